#include "audio/AudioUSB.h"

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <type_traits>

#include "audio/AlsaStream.h"
#include "audio/DriftCorrector.h"
#include "audio/dsp/Frame.h"
#include "audio/FramePacer.h"
#include "audio/FrameRing.h"
#include "porting/Log.h"
#include "core/NodeFloat.h"
#include "core/NodeItem.h"
#include "audio/RetryBackoff.h"
#include "porting/Shims.h"
#include "core/Storage.h"
#include "core/System.h"

namespace {

const char* const TAG = "AudioUSB";
const uint32_t kStatePeriodUs = 2000000;
const uint32_t kIdleSleepUs = 100000;
// Waits before reopening streams that failed: from a tenth of a second, doubling to two seconds.
const uint32_t kFirstRetryUs = 100000;
const uint32_t kLongestRetryUs = 2000000;
// Device buffer of each stream: four transfers.
const unsigned kStreamLatencyUs = 5333;

struct Settings {
    std::mutex lock;
    std::string statePath = AudioUSB::kDefaultStatePath;
    std::string captureDevice = AudioUSB::kDefaultDevice;
    std::string playbackDevice = AudioUSB::kDefaultDevice;
    std::string lastState; // the state thread's own, unguarded
};

// Never destroyed: the threads may still read them while the process exits.
Settings& settings() {
    static Settings* instance = new Settings;
    return *instance;
}

// Toward the host: the audio thread produces, the bridge consumes. From the host: the other way round.
// Plain static objects without destructors, ready before main: the audio thread's first frame must not be
// the one that creates them.
static_assert(std::is_trivially_destructible_v<FrameRing> && std::is_trivially_destructible_v<DriftCorrector>);
constinit FrameRing toHostRing;
constinit FrameRing fromHostRing;
constinit DriftCorrector toHostDrift(AudioUSB::kTargetQueueSamples);
constinit DriftCorrector fromHostDrift(AudioUSB::kTargetQueueSamples);

std::atomic<bool> initialized{false};
std::atomic<bool> hostConnected{false};
std::atomic<bool> streaming{false};
std::atomic<int> overruns{0};
std::atomic<float> recordGain{1.0f};
std::atomic<float> playbackGain{1.0f};

// The gain of one direction's audio at the consumer of its ring: it rises from 0 to 1 over kFadeFrames once
// the stream plays, and falls back over as many when the stream stops or its ring holds no more than those
// frames (a producer that stopped), so the computer's audio never starts or ends with a step. The ring's
// frames carry the fade out: a stopping stream is faded before the ring is cleared.
constexpr int kFadeFrames = 6; // 2 ms
struct StreamFade {
    float gain = 0.0f;
    void apply(float (*frame)[Frame::kSamples], bool playing) {
        const float step = 1.0f / kFadeFrames;
        const float to = playing ? (gain + step < 1.0f ? gain + step : 1.0f) : Frame::larger(gain - step, 0.0f);
        if (to == 1.0f && gain == 1.0f) return;
        for (int channel = 0; channel < Frame::kChannels; ++channel) Frame::rampGain(frame[channel], gain, to);
        gain = to;
    }
    // After a take from the corrector: plays while primed with enough left in the ring to fade out.
    void follow(float (*frame)[Frame::kSamples], const DriftCorrector& drift, const FrameRing& ring, bool open) {
        apply(frame, open && drift.isPrimed() && drift.queued(ring) >= kFadeFrames * Frame::kSamples);
    }
};

// Audio thread state.
bool audioSideStreaming = false;
StreamFade fromHostFade;
float appliedRecordGain = 1.0f;
float appliedPlaybackGain = 1.0f;

// Bridge thread state.
StreamFade toHostFade;
AlsaStream* captureStream = nullptr;
AlsaStream* playbackStream = nullptr;
// Without a device that blocks (ALSA's "null"), the transfers keep to the frame clock.
constinit FramePacer bridgePacer(kStreamLatencyUs + 1333);
constinit RetryBackoff retries(kFirstRetryUs, kLongestRetryUs);

NodeItem* folder = nullptr;
NodeFloat* recordLevel = nullptr;
NodeFloat* playbackLevel = nullptr;

float linearGain(const NodeFloat* level) {
    if (!level) return 1.0f;
    float db = level->getValue();
    return db == 0.0f ? 1.0f : std::pow(10.0f, db / 20.0f);
}

void rampInto(float (*target)[Frame::kSamples], const float (*source)[Frame::kSamples], float from, float to,
              bool add) {
    for (int sample = 0; sample < Frame::kSamples; ++sample) {
        const float gain = Frame::rampAt(from, to, sample);
        for (int channel = 0; channel < Frame::kChannels; ++channel) {
            float value = source[channel][sample] * gain;
            target[channel][sample] = add ? target[channel][sample] + value : value;
        }
    }
}

std::string trimmed(const std::string& text) {
    size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return "";
    size_t last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

}

bool AudioUSB::initialize() {
    if (initialized.exchange(true)) return true;
    {
        Settings& config = settings();
        std::lock_guard<std::mutex> guard(config.lock);
        if (const char* path = std::getenv("PEDAL_USB_STATE"); path && *path) config.statePath = path;
        if (const char* device = std::getenv("PEDAL_USB_CAPTURE"); device && *device) config.captureDevice = device;
        if (const char* device = std::getenv("PEDAL_USB_PLAYBACK"); device && *device) config.playbackDevice = device;
    }
    if (Node* root = System::rootNode()) {
        folder = new NodeItem(root, "usb", "USB Audio", "", "sfolder");
        recordLevel = new NodeFloat(folder, "rec", "Record Level", -60.0f, 12.0f, 0.0f, "dB", 0.5f, false, 1);
        playbackLevel = new NodeFloat(folder, "play", "Playback Level", -60.0f, 12.0f, 0.0f, "dB", 0.5f, false, 1);
        Storage::addItem(recordLevel);
        Storage::addItem(playbackLevel);
        recordLevel->setOnChange(levelChanged);
        playbackLevel->setOnChange(levelChanged);
        levelChanged(nullptr);
    } else {
        LOGE(TAG, "No tree root: USB levels fixed at 0 dB\n");
    }
    bool started = xTaskCreatePinnedToCore(stateLoop, "AudioUSB", 8192, nullptr, 0, nullptr, 0) &&
                   xTaskCreatePinnedToCore(bridgeLoop, "AudioUSB bridge", 16384, nullptr, 45, nullptr, 0);
    if (!started) LOGE(TAG, "USB audio threads did not start\n");
    return started;
}

void AudioUSB::setStatePath(const std::string& path) {
    std::lock_guard<std::mutex> guard(settings().lock);
    settings().statePath = path;
}

void AudioUSB::setDevices(const std::string& capture, const std::string& playback) {
    std::lock_guard<std::mutex> guard(settings().lock);
    settings().captureDevice = capture;
    settings().playbackDevice = playback;
}

void AudioUSB::levelChanged(Node*) {
    recordGain.store(linearGain(recordLevel), std::memory_order_relaxed);
    playbackGain.store(linearGain(playbackLevel), std::memory_order_relaxed);
}

bool AudioUSB::stateStep() {
    std::string path;
    {
        std::lock_guard<std::mutex> guard(settings().lock);
        path = settings().statePath;
    }
    std::string state = "absent";
    std::ifstream file(path);
    if (file) {
        std::string text;
        std::getline(file, text);
        state = trimmed(text);
    }
    bool connected = state == "configured";
    if (state != settings().lastState) {
        LOGI(TAG, "USB device state: %s\n", state.c_str());
        settings().lastState = state;
    }
    hostConnected.store(connected, std::memory_order_release);
    return connected;
}

bool AudioUSB::isHostConnected() { return hostConnected.load(std::memory_order_acquire); }

bool AudioUSB::isStreaming() { return streaming.load(std::memory_order_acquire); }

void AudioUSB::exchange(float (*frame)[Frame::kSamples]) {
    const bool open = streaming.load(std::memory_order_acquire);
    if (!open && (!audioSideStreaming || fromHostFade.gain == 0.0f)) {
        if (audioSideStreaming) {
            // This thread consumes the ring from the host: it is the one that may empty it.
            fromHostRing.clear();
            fromHostDrift.reset();
            audioSideStreaming = false;
        }
        return;
    }
    audioSideStreaming = true;
    float record = recordGain.load(std::memory_order_relaxed);
    float playback = playbackGain.load(std::memory_order_relaxed);

    alignas(64) float transfer[Frame::kChannels][Frame::kSamples];
    if (open) {
        rampInto(transfer, frame, appliedRecordGain, record, false);
        if (!toHostRing.push(transfer)) overruns.fetch_add(1, std::memory_order_relaxed);
    }

    fromHostDrift.take(fromHostRing, transfer);
    fromHostFade.follow(transfer, fromHostDrift, fromHostRing, open);
    rampInto(frame, transfer, appliedPlaybackGain, playback, true);
    appliedRecordGain = record;
    appliedPlaybackGain = playback;
}

void AudioUSB::beginStreaming() {
    // The first stream builds the resamplers; the audio thread has not touched its corrector before.
    toHostDrift.prepare();
    fromHostDrift.prepare();
    // The bridge consumes the ring toward the host: frames left from an earlier connection go.
    toHostRing.clear();
    toHostDrift.reset();
    toHostFade.gain = 0.0f;
    streaming.store(true, std::memory_order_release);
}

void AudioUSB::endStreaming() { streaming.store(false, std::memory_order_release); }

void AudioUSB::hostPeriod(const float* captured, float* toPlay, int samples) {
    alignas(64) float frame[Frame::kChannels][Frame::kSamples];
    for (int start = 0; start + Frame::kSamples <= samples && start + Frame::kSamples <= kPeriodSamples;
         start += Frame::kSamples) {
        for (int sample = 0; sample < Frame::kSamples; ++sample) {
            frame[0][sample] = captured[(start + sample) * 2];
            frame[1][sample] = captured[(start + sample) * 2 + 1];
        }
        if (!fromHostRing.push(frame)) overruns.fetch_add(1, std::memory_order_relaxed);
        toHostDrift.take(toHostRing, frame);
        toHostFade.follow(frame, toHostDrift, toHostRing, true);
        for (int sample = 0; sample < Frame::kSamples; ++sample) {
            toPlay[(start + sample) * 2] = frame[0][sample];
            toPlay[(start + sample) * 2 + 1] = frame[1][sample];
        }
    }
}

Node* AudioUSB::getFolder() { return folder; }
NodeFloat* AudioUSB::getRecordLevel() { return recordLevel; }
NodeFloat* AudioUSB::getPlaybackLevel() { return playbackLevel; }
int AudioUSB::getOverruns() { return overruns.load(std::memory_order_relaxed); }

int AudioUSB::getRestarts() { return toHostDrift.getRestarts() + fromHostDrift.getRestarts(); }

int AudioUSB::getQueuedSamples(bool towardHost) {
    return towardHost ? toHostDrift.queued(toHostRing) : fromHostDrift.queued(fromHostRing);
}

bool AudioUSB::openStreams(bool logFailure) {
    std::string capture, playback;
    {
        std::lock_guard<std::mutex> guard(settings().lock);
        capture = settings().captureDevice;
        playback = settings().playbackDevice;
    }
    const char* tag = logFailure ? TAG : nullptr;
    if (!captureStream->open(capture, true, kStreamLatencyUs, tag) ||
        !playbackStream->open(playback, false, kStreamLatencyUs, tag)) {
        captureStream->close();
        playbackStream->close();
        return false;
    }
    captureStream->start();
    beginStreaming();
    return true;
}

void AudioUSB::closeStreams() {
    endStreaming();
    captureStream->close();
    playbackStream->close();
}

void AudioUSB::stateLoop(void*) {
    for (;;) {
        stateStep();
        vTaskDelay(kStatePeriodUs);
    }
}

uint32_t AudioUSB::bridgeStep() {
    static float captured[kPeriodSamples * 2];
    static float toPlay[kPeriodSamples * 2];
    if (!captureStream) captureStream = new AlsaStream;
    if (!playbackStream) playbackStream = new AlsaStream;
    if (!isHostConnected()) {
        if (captureStream->isOpen() || playbackStream->isOpen()) {
            closeStreams();
            LOGI(TAG, "USB audio streams closed\n");
        }
        retries.clear();
        return kIdleSleepUs;
    }
    if (!captureStream->isOpen()) {
        if (uint32_t wait = retries.waitUs()) return wait;
        // After a failure the attempts are quiet until the streams work again.
        if (!openStreams(!retries.isFailing())) {
            retries.failed();
            return retries.waitUs();
        }
        if (!retries.isFailing()) LOGI(TAG, "USB audio streams open\n");
        bridgePacer.restart();
    }
    // The capture transfer paces the bridge: the host's clock sets the period.
    bool moved = captureStream->read(captured, kPeriodSamples);
    if (moved) {
        hostPeriod(captured, toPlay, kPeriodSamples);
        moved = playbackStream->write(toPlay, kPeriodSamples);
    }
    if (!moved) {
        const char* failure =
            captureStream->getFailure()[0] ? captureStream->getFailure() : playbackStream->getFailure();
        closeStreams();
        if (retries.failed()) LOGW(TAG, "USB audio streams stopped (%s); retrying\n", failure);
        return retries.waitUs();
    }
    if (retries.worked()) LOGI(TAG, "USB audio streams work again\n");
    return bridgePacer.transferred(kPeriodSamples);
}

void AudioUSB::bridgeLoop(void*) {
    for (;;) {
        if (uint32_t wait = bridgeStep()) vTaskDelay(wait);
    }
}
