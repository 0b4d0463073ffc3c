#include "AlsaCodec.h"

#include <cmath>

#include "Log.h"

namespace {

const char* const TAG = "AlsaCodec";
// Device buffer: a few milliseconds, enough for a desktop scheduler without real-time priorities.
const unsigned kLatencyUs = 8000;

}

AlsaCodec::AlsaCodec(std::string device) : device(std::move(device)) {}

bool AlsaCodec::initialize() {
    if (!playback.open(device, false, kLatencyUs, TAG)) return false;
    if (!capture.open(device, true, kLatencyUs, TAG)) LOGW(TAG, "No capture on %s, inputs silent\n", device.c_str());
    return true;
}

bool AlsaCodec::start() { return !capture.isOpen() || capture.start(); }

bool AlsaCodec::read(float (*frame)[16]) {
    if (!capture.isOpen()) {
        for (int sample = 0; sample < 16; ++sample) frame[0][sample] = frame[1][sample] = 0.0f;
        return playback.isOpen();
    }
    if (!capture.read(interleaved, 16)) return false;
    for (int sample = 0; sample < 16; ++sample) {
        frame[0][sample] = interleaved[sample * 2] * inputGain;
        frame[1][sample] = interleaved[sample * 2 + 1] * inputGain;
    }
    return true;
}

bool AlsaCodec::write(float (*frame)[16]) {
    for (int sample = 0; sample < 16; ++sample) {
        interleaved[sample * 2] = frame[0][sample];
        interleaved[sample * 2 + 1] = frame[1][sample];
    }
    return playback.write(interleaved, 16);
}

void AlsaCodec::setInputGain(float gainDb) {
    if (!std::isfinite(gainDb)) return;
    inputGain = gainDb == 0.0f ? 1.0f : std::pow(10.0f, gainDb / 20.0f);
}
