#include "core/NodeLink.h"

#include <deque>
#include <vector>

#include "porting/Log.h"
#include "core/System.h"

namespace {
// The linkable nodes under the application node in breadth-first order.
std::vector<Node*> linkableNodes() {
    std::vector<Node*> found;
    Node* app = System::appNode();
    if (!app) return found;
    std::deque<Node*> queue{app};
    while (!queue.empty()) {
        Node* node = queue.front();
        queue.pop_front();
        if (node->isLinkable()) found.push_back(node);
        for (int i = 0;; ++i) {
            Node* child = node->childrenAt(i);
            if (!child) break;
            queue.push_back(child);
        }
    }
    return found;
}

Node* findLinkable(const std::string& path) {
    if (path.empty()) return nullptr;
    Node* root = System::rootNode();
    if (!root) return nullptr;
    Node* node = root->pathToNode(path);
    return node && node->isLinkable() ? node : nullptr;
}
}

NodeLink::NodeLink(Node* parent, const char* key, const char* displayName, std::string def)
    : NodeItem(parent, key, displayName, std::move(def), "link") {}

bool NodeLink::acceptsValue(const std::string& value) const { return value.empty() || findLinkable(value); }

bool NodeLink::setValue(std::string value) {
    if (!acceptsValue(value)) {
        LOGW("NodeLink", "%s: no linkable node at that path\n", getName());
        return false;
    }
    return NodeItem::setValue(std::move(value));
}

Node* NodeLink::getTarget() const { return findLinkable(getValue()); }

std::string NodeLink::toString() const {
    Node* target = getTarget();
    return target ? target->getDisplayName() : "";
}

void NodeLink::edit(bool up) {
    const std::vector<Node*> targets = linkableNodes();
    // Position 0 is "no link", position i + 1 the i-th linkable node.
    const std::string current = getValue();
    int position = 0;
    for (size_t i = 0; i < targets.size(); ++i) {
        if (targets[i]->getPath() == current) position = int(i) + 1;
    }
    const int next = up ? position + 1 : position - 1;
    if (next < 0 || next > int(targets.size())) return;
    NodeItem::setValue(next == 0 ? std::string() : targets[size_t(next - 1)]->getPath());
}
