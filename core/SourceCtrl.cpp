#include "core/SourceCtrl.h"

#include <algorithm>
#include <cstdlib>

#include "porting/Shims.h"

SourceCtrl::SourceCtrl(const char* name, const char* description, int channel, std::function<int(int)> reader)
    : Source(name, description, Kind::Ctrl), channel(channel), reader(std::move(reader)) {}

void SourceCtrl::tasks() {
    if (!reader) return;
    const int reading = reader(channel);
    if (reading < 0) return;
    const int byte = std::clamp(reading, 0, 4095) >> 4;
    if (byte == lastSent) return;
    const bool atEnd = byte == 0 || byte == 255;
    if (lastSent >= 0 && std::abs(byte - lastSent) <= 1 && !atEnd) return;
    lastSent = byte;
    ControlMessage message;
    message.type = ControlMessage::Type::Analog;
    message.number = channel;
    message.value = byte;
    message.time = esp_timer_get_time();
    send(message);
}
