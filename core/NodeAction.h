#pragma once
#include <functional>
#include <string>

#include "core/Node.h"

// A command: edit() or a remote write queues the action, and the "action task" thread (priority 2, core 0)
// runs queued actions every 50 ms, so a slow action never holds up the UI or the protocol.
// Action types: "smp" runs at once, "smp_cfm" asks the user for confirmation first; others may be given.
// Its value is always "": a write of "" (as a preset line or an echoed read carries) does nothing, any
// other string or true runs the action.
class NodeAction : public Node {
public:
    using Action = std::function<void(NodeAction*)>;

    NodeAction(Node* parent, const char* key, const char* displayName, Action action, const char* actionType = "smp");
    ~NodeAction() override;

    const char* getActionType() const { return actionType.c_str(); }
    // Queues the action for the action task and notifies.
    void run();
    // Runs every queued action on the calling thread (the task's step).
    static void tasks();

    const char* getType() const override { return "action"; }
    void edit(bool up) override;

protected:
    void valueToJSON(nlohmann::ordered_json& body, bool reveal) const override;
    void membersToJSON(nlohmann::ordered_json& body) const override;
    bool valueFromJSON(const nlohmann::json& body) override;

private:
    static void startTask();
    static void taskLoop(void*);

    const Action action;
    const std::string actionType;
};
