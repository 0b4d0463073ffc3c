#pragma once
#include <string>

#include "ControlMessage.h"

// A controller source: MIDI input or a polled analog input. Sources register by name in Control when they are
// built; Control::tasks polls them on the "controlLoop" thread and send() hands each event to every binding.
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
    // Hands the event to every binding (Control::dispatch).
    void send(const ControlMessage& message);

private:
    const std::string name;
    const std::string description;
    const Kind kind;
};
