#include "Control.h"

#include <algorithm>
#include <mutex>
#include <vector>

#include "Log.h"
#include "NodeControl.h"
#include "Source.h"

namespace {
const char* TAG = "Control";
// Process-wide and never destroyed: the control thread may still poll while the process ends. The locks are
// recursive because a binding's action may reach the registry again on the same thread.
std::recursive_mutex& sourceLock = *new std::recursive_mutex;
std::vector<Source*>& sources = *new std::vector<Source*>;
std::recursive_mutex& controlLock = *new std::recursive_mutex;
std::vector<NodeControl*>& controls = *new std::vector<NodeControl*>;
}

void Control::addSource(Source* source) {
    std::lock_guard<std::recursive_mutex> guard(sourceLock);
    if (getSource(source->getName())) LOGW(TAG, "A second source is named %s\n", source->getName().c_str());
    sources.push_back(source);
}

void Control::removeSource(Source* source) {
    std::lock_guard<std::recursive_mutex> guard(sourceLock);
    sources.erase(std::remove(sources.begin(), sources.end(), source), sources.end());
}

Source* Control::getSource(const std::string& name) {
    std::lock_guard<std::recursive_mutex> guard(sourceLock);
    for (Source* source : sources) {
        if (source->getName() == name) return source;
    }
    return nullptr;
}

int Control::sourceCount() {
    std::lock_guard<std::recursive_mutex> guard(sourceLock);
    return int(sources.size());
}

void Control::tasks() {
    std::lock_guard<std::recursive_mutex> guard(sourceLock);
    // By index: a source may be added while the walk runs.
    for (size_t i = 0; i < sources.size(); ++i) sources[i]->tasks();
}

void Control::addControl(NodeControl* control) {
    std::lock_guard<std::recursive_mutex> guard(controlLock);
    controls.push_back(control);
}

void Control::removeControl(NodeControl* control) {
    std::lock_guard<std::recursive_mutex> guard(controlLock);
    controls.erase(std::remove(controls.begin(), controls.end(), control), controls.end());
}

void Control::dispatch(Source& source, const ControlMessage& message) {
    std::lock_guard<std::recursive_mutex> guard(controlLock);
    // By index: an action may append a binding while the walk runs.
    for (size_t i = 0; i < controls.size(); ++i) {
        NodeControl* control = controls[i];
        if (control->isActive()) control->receive(source, message);
    }
}
