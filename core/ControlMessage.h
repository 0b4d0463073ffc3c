#pragma once
#include <cstdint>

// One event of a controller source, as the bindings receive it.
struct ControlMessage {
    enum class Type {
        ControlChange, // channel, number (0..127), value (0..127)
        ProgramChange, // channel, number (the program 0..127)
        Clock,         // MIDI clock, 24 per quarter note
        Start,
        Continue,
        Stop,
        Analog, // a polled input: number is the source's input channel, value 0..255
    };
    Type type = Type::ControlChange;
    int channel = 0;
    int number = 0;
    int value = 0;
    int64_t time = 0; // esp_timer_get_time() when the bytes were read

    // The value as a fraction 0..1 of its range (127 for MIDI, 255 for an analog reading).
    float fraction() const { return float(value) / (type == Type::Analog ? 255.0f : 127.0f); }
};
