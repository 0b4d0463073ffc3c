#pragma once
#include <functional>

#include "core/Source.h"

// A polled analog input (the expression pedal's converter). Every poll calls reader(channel): a negative
// result means no reading (a missing converter must not drive a linked volume to silence) and sends nothing;
// otherwise the reading is clamped to 0..4095 and reduced to one byte (0..255). A byte is sent as an Analog
// event (number = channel) only when it differs from the last one sent by more than one step, or reaches an
// end of the range, so converter noise of one step does not chatter.
class SourceCtrl : public Source {
public:
    SourceCtrl(const char* name, const char* description, int channel, std::function<int(int)> reader);

    void tasks() override;
    // The last byte sent, -1 before the first.
    int getLastSent() const { return lastSent; }

private:
    const int channel;
    const std::function<int(int)> reader;
    int lastSent = -1;
};
