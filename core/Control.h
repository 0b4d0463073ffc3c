#pragma once
#include <string>

#include "core/ControlMessage.h"

class Source;

// The entry points of the controller registry: sources (by name) and bindings. The audio engine's
// "controlLoop" thread calls tasks() every 10 ms. Sources and bindings register themselves when built and
// unregister when destroyed (the registry lives with them, in Source).
class Control {
public:
    // Polls every source once, in registration order.
    static void tasks();
    // Null when no source has that name.
    static Source* getSource(const std::string& name);
    // Hands a source's event to every active binding, in registration order.
    static void dispatch(Source& source, const ControlMessage& message);
};
