#pragma once
#include <string>

#include "core/NodeItem.h"

// A link to a parameter: an item of item type "link" whose value is the path of a linkable node
// (Node::setLinkable) or "" for none. edit() steps through "" and then the linkable nodes under the
// application node ("app") in breadth-first order, stopping at both ends.
class NodeLink : public NodeItem {
public:
    NodeLink(Node* parent, const char* key, const char* displayName, std::string def);

    // Accepts "" or the path of a linkable node; anything else is refused (false, nothing changes).
    bool setValue(std::string value) override;
    bool acceptsValue(const std::string& value) const override;
    // The linked node, null for none.
    Node* getTarget() const;
    // The target's display name, "" for none.
    std::string toString() const override;
    void edit(bool up) override;
};
