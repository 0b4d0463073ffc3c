#include "core/Source.h"

#include <algorithm>
#include <mutex>
#include <vector>

#include "porting/Log.h"

namespace {
const char* TAG = "Control";
// Process-wide and never destroyed: the control thread may still poll while the process ends. The locks are
// recursive because a binding's action may reach the registry again on the same thread.
std::recursive_mutex& sourceLock = *new std::recursive_mutex;
std::vector<Source*>& sources = *new std::vector<Source*>;
std::recursive_mutex& bindingLock = *new std::recursive_mutex;
std::vector<SourceBinding*>& bindings = *new std::vector<SourceBinding*>;
}

Source::Source(const char* name, const char* description, Kind kind)
    : name(name ? name : ""), description(description ? description : ""), kind(kind) {
    std::lock_guard<std::recursive_mutex> guard(sourceLock);
    if (find(this->name)) LOGW(TAG, "A second source is named %s\n", this->name.c_str());
    sources.push_back(this);
}

Source::~Source() {
    std::lock_guard<std::recursive_mutex> guard(sourceLock);
    sources.erase(std::remove(sources.begin(), sources.end(), this), sources.end());
}

void Source::send(const ControlMessage& message) { dispatch(*this, message); }

Source* Source::find(const std::string& name) {
    std::lock_guard<std::recursive_mutex> guard(sourceLock);
    for (Source* source : sources) {
        if (source->getName() == name) return source;
    }
    return nullptr;
}

void Source::pollAll() {
    std::lock_guard<std::recursive_mutex> guard(sourceLock);
    // By index: a source may be added while the walk runs.
    for (size_t i = 0; i < sources.size(); ++i) sources[i]->tasks();
}

void Source::addBinding(SourceBinding* binding) {
    std::lock_guard<std::recursive_mutex> guard(bindingLock);
    bindings.push_back(binding);
}

void Source::removeBinding(SourceBinding* binding) {
    std::lock_guard<std::recursive_mutex> guard(bindingLock);
    bindings.erase(std::remove(bindings.begin(), bindings.end(), binding), bindings.end());
}

void Source::dispatch(Source& source, const ControlMessage& message) {
    std::lock_guard<std::recursive_mutex> guard(bindingLock);
    // By index: an action may append a binding while the walk runs.
    for (size_t i = 0; i < bindings.size(); ++i) {
        SourceBinding* binding = bindings[i];
        if (binding->isActive()) binding->receive(source, message);
    }
}
