#include "core/NodeAction.h"

#include <algorithm>
#include <deque>
#include <mutex>

#include <nlohmann/json.hpp>

#include "porting/Log.h"
#include "porting/Shims.h"

namespace {
const char* TAG = "NodeAction";
constexpr uint32_t taskPeriodUs = 50000;

// Never destroyed: the action task still runs while the process ends.
std::mutex& queueLock() {
    static std::mutex& lock = *new std::mutex;
    return lock;
}

std::deque<NodeAction*>& queue() {
    static std::deque<NodeAction*>& pending = *new std::deque<NodeAction*>;
    return pending;
}
}

NodeAction::NodeAction(Node* parent, const char* key, const char* displayName, Action action, const char* actionType)
    : Node(parent, key, displayName), action(std::move(action)), actionType(actionType ? actionType : "smp") {
    startTask();
}

NodeAction::~NodeAction() {
    std::lock_guard<std::mutex> guard(queueLock());
    auto& pending = queue();
    pending.erase(std::remove(pending.begin(), pending.end(), this), pending.end());
}

void NodeAction::startTask() {
    static std::once_flag started;
    std::call_once(started, [] {
        if (!xTaskCreatePinnedToCore(taskLoop, "action task", 4096, nullptr, 2, nullptr, 0)) {
            LOGE(TAG, "Cannot start the action task\n");
        }
    });
}

void NodeAction::taskLoop(void*) {
    for (;;) {
        tasks();
        vTaskDelay(taskPeriodUs);
    }
}

void NodeAction::run() {
    {
        std::lock_guard<std::mutex> guard(queueLock());
        queue().push_back(this);
    }
    notifyChange();
}

void NodeAction::tasks() {
    for (;;) {
        NodeAction* next;
        {
            std::lock_guard<std::mutex> guard(queueLock());
            if (queue().empty()) return;
            next = queue().front();
            queue().pop_front();
        }
        if (next->action) next->action(next);
    }
}

void NodeAction::edit(bool) { run(); }

void NodeAction::valueToJSON(nlohmann::ordered_json& body, bool) const { body["value"] = ""; }

void NodeAction::membersToJSON(nlohmann::ordered_json& body) const { body["atype"] = actionType; }

bool NodeAction::valueFromJSON(const nlohmann::json& body) {
    const nlohmann::json& value = body["value"];
    if (value.is_string()) {
        if (!value.get_ref<const std::string&>().empty()) run();
        return true;
    }
    if (value.is_boolean()) {
        if (value.get<bool>()) run();
        return true;
    }
    return false;
}
