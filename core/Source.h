#pragma once
#include <string>

#include "core/ControlMessage.h"

class Source;

// What the sources' events go to: a binding (NodeControl) joins with addBinding for its lifetime and receives
// every event of every source while active.
class SourceBinding {
public:
    virtual bool isActive() const = 0;
    // Called for every event while active (on the thread polling the source).
    virtual void receive(Source& source, const ControlMessage& message) = 0;

protected:
    ~SourceBinding() = default;
};

// A controller source: MIDI input or a polled analog input. Sources register by name when they are built and
// leave when destroyed; Control::tasks polls them on the "controlLoop" thread and send() hands each event to
// every binding. The registry of sources and bindings lives here, with the objects it lists; registration
// is safe from any thread.
class Source {
public:
    enum class Kind { Midi, Ctrl };

    Source(const char* name, const char* description, Kind kind);
    virtual ~Source();
    Source(const Source&) = delete;
    Source& operator=(const Source&) = delete;

    const std::string& getName() const { return name; }
    const std::string& getDescription() const { return description; }
    Kind getKind() const { return kind; }

    // One poll: read the input and send what it produced.
    virtual void tasks() = 0;
    // Hands the event to every binding (dispatch).
    void send(const ControlMessage& message);

    // Null when no source has that name.
    static Source* find(const std::string& name);
    // Polls every source once, in registration order.
    static void pollAll();
    static void addBinding(SourceBinding* binding);
    static void removeBinding(SourceBinding* binding);
    // Hands a source's event to every active binding, in registration order.
    static void dispatch(Source& source, const ControlMessage& message);

private:
    const std::string name;
    const std::string description;
    const Kind kind;
};
