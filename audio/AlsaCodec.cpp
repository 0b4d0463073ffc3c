#include "audio/AlsaCodec.h"

#include <cmath>

#include "audio/dsp/Frame.h"
#include "porting/Log.h"
#include "porting/Shims.h"

namespace {

const char* const TAG = "AlsaCodec";
// Device buffer: a few milliseconds, enough for a desktop scheduler without real-time priorities.
const unsigned kLatencyUs = 8000;
// Waits before reopening a failed device: from a tenth of a second, doubling to two seconds.
const uint32_t kFirstRetryUs = 100000;
const uint32_t kLongestRetryUs = 2000000;

}

AlsaCodec::AlsaCodec(std::string device)
    : device(std::move(device)), pacer(kLatencyUs + 1000), backoff(kFirstRetryUs, kLongestRetryUs) {}

bool AlsaCodec::openStreams(const char* tag) {
    if (!playback.open(device, false, kLatencyUs, tag)) return false;
    if (!capture.open(device, true, kLatencyUs, hasCapture ? tag : nullptr) && hasCapture) {
        playback.close();
        return false;
    }
    return true;
}

bool AlsaCodec::initialize() {
    if (!playback.open(device, false, kLatencyUs, TAG)) return false;
    hasCapture = capture.open(device, true, kLatencyUs, TAG);
    if (!hasCapture) LOGW(TAG, "No capture on %s, inputs silent\n", device.c_str());
    return true;
}

bool AlsaCodec::start() {
    pacer.restart();
    return !capture.isOpen() || capture.start();
}

void AlsaCodec::failed(const AlsaStream& stream) {
    if (backoff.failed()) LOGE(TAG, "%s stopped (%s); retrying\n", device.c_str(), stream.getFailure());
    capture.close();
    playback.close();
}

bool AlsaCodec::reopen() {
    if (backoff.waitUs() > 0) return false;
    if (!openStreams(nullptr) || !start()) {
        capture.close();
        playback.close();
        backoff.failed();
        return false;
    }
    return true;
}

bool AlsaCodec::read(float (*frame)[Frame::kSamples]) {
    if (!playback.isOpen() && !reopen()) return false;
    if (!capture.isOpen()) {
        for (int sample = 0; sample < Frame::kSamples; ++sample) frame[0][sample] = frame[1][sample] = 0.0f;
    } else if (!capture.read(interleaved, Frame::kSamples)) {
        failed(capture);
        return false;
    } else {
        for (int sample = 0; sample < Frame::kSamples; ++sample) {
            frame[0][sample] = interleaved[sample * 2] * inputGain;
            frame[1][sample] = interleaved[sample * 2 + 1] * inputGain;
        }
    }
    if (uint32_t wait = pacer.transferred(Frame::kSamples)) vTaskDelay(wait);
    return true;
}

bool AlsaCodec::write(float (*frame)[Frame::kSamples]) {
    if (!playback.isOpen()) return false;
    for (int sample = 0; sample < Frame::kSamples; ++sample) {
        interleaved[sample * 2] = frame[0][sample];
        interleaved[sample * 2 + 1] = frame[1][sample];
    }
    if (!playback.write(interleaved, Frame::kSamples)) {
        failed(playback);
        return false;
    }
    if (backoff.worked()) LOGI(TAG, "%s works again\n", device.c_str());
    return true;
}

void AlsaCodec::setInputGain(float gainDb) {
    if (!std::isfinite(gainDb)) return;
    inputGain = gainDb == 0.0f ? 1.0f : std::pow(10.0f, gainDb / 20.0f);
}
