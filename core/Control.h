#pragma once
#include <string>

#include "ControlMessage.h"

class NodeControl;
class Source;

// The registry of controller sources (by name) and bindings. The audio engine's "controlLoop" thread calls
// tasks() every 10 ms. Registration is safe from any thread; sources and bindings unregister themselves when
// they are destroyed.
class Control {
public:
    // Polls every source once, in registration order.
    static void tasks();
    // Null when no source has that name.
    static Source* getSource(const std::string& name);
    static int sourceCount();
    // Hands a source's event to every active binding, in registration order.
    static void dispatch(Source& source, const ControlMessage& message);

    static void addSource(Source* source);
    static void removeSource(Source* source);
    static void addControl(NodeControl* control);
    static void removeControl(NodeControl* control);
};
