#include "audio/AudioProcessor.h"

#include <cmath>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <xmmintrin.h>
#endif

#include "audio/AudioBlock.h"
#include "audio/AudioUSB.h"
#include "audio/Codec.h"
#include "core/Control.h"
#include "audio/CodecInterface.h"
#include "core/Debug.h"
#include "audio/dsp/FastMath.h"
#include "audio/dsp/Frame.h"
#include "porting/Log.h"
#include "core/NodeFloat.h"
#include "core/NodeItem.h"
#include "core/NodePreset.h"
#include "porting/Shims.h"
#include "core/System.h"

namespace {

const char* const TAG = "AudioProcessor";

const float kFadeOutFactor = 0.7f;
const float kFadeInFactor = 1.0f / 0.7f;
const float kSilentGain = 1.0f / 700.0f;
// The fade's progress per octave of its gain, from 0 at a gain of 1 to 1 at the silent gain.
const float kOctavesToSilence = float(1.0 / std::log2(double(kSilentGain)));
// With no frame processed for this long the audio thread counts as stopped, and a request waits no longer.
const int64_t kAudioStalledUs = 50000;
const uint32_t kPassPeriodUs = 10000;
const uint32_t kNoCodecSleepUs = 10000;

// Meter ballistics: the level follows a peak at once and then falls 20 dB per second (3000 frames).
const float kMeterRelease = 0.99923275f; // 10^(-20 / 20 / 3000)
const float kMeterFloorDb = -110.0f;
// A sample this close to full scale counts as a clip; it holds the indicator for a second.
const float kClipLevel = 0.999f;
const int kClipHoldFrames = 3000;

alignas(64) float inputCopy[Frame::kChannels][Frame::kSamples];

std::atomic<int> fadeState{int(AudioProcessor::FadeState::Idle)};
float fadeGain = 1.0f; // audio thread
std::atomic<float> publishedFadeGain{1.0f};
std::atomic<uint32_t> fadeRequests{0};
std::atomic<uint32_t> fadeServed{0};
std::atomic<int64_t> requestTime{0};
std::atomic<int64_t> lastFrameTime{INT64_MIN / 2};
std::atomic<bool> silentPass{false};
std::atomic<int> presetLoads{0};
std::atomic<void (*)()> controlTask{nullptr};
std::atomic<bool> initialized{false};
thread_local bool onCompileThread = false;

// [channel][direction]
std::atomic<float> meterLevel[2][2];
std::atomic<int> clipHold[2][2];
NodeFloat* meterNodes[2][2] = {};

int audioCounter = -1;
int compileCounter = -1;

bool validMeter(int channel, int direction) { return channel >= 0 && channel < 2 && direction >= 0 && direction < 2; }

// The fade of the frame being processed, decided before the ring runs (so the lines' feed follows it) and
// published after (so a compile pass never latches while the ring still plays this frame at a gain above 0).
struct FadePlan {
    AudioProcessor::FadeState before = AudioProcessor::FadeState::Idle;
    AudioProcessor::FadeState state = AudioProcessor::FadeState::Idle;
    float from = 1.0f;
    float to = 1.0f;
    bool active = false;
};
FadePlan fadePlan; // audio thread
alignas(64) float lineFeedGains[Frame::kSamples] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
bool lineFeedIsOne = true;

float lineFeedAt(float fadeGain) {
    if (fadeGain <= kSilentGain) return 0.0f;
    const float progress = FastMath::log2(fadeGain) * kOctavesToSilence;
    return 0.5f * (1.0f + FastMath::sinCycles(0.5f * progress + 0.25f)); // cos(pi progress)
}

struct CompileThreadScope {
    bool previous;
    CompileThreadScope() : previous(onCompileThread) { onCompileThread = true; }
    ~CompileThreadScope() { onCompileThread = previous; }
};

}

bool AudioProcessor::audioInitialize(bool startThreads) {
    if (AudioBlock::ringCount() == 0) {
        LOGW(TAG, "No audio block loaded\n");
        return false;
    }
    if (initialized.exchange(true)) {
        LOGW(TAG, "Audio already initialised\n");
        return true;
    }
    createMeterNodes();
    NodePreset::setLoadHooks(beginPresetLoad, endPresetLoad);
    controlTask.store(Control::tasks, std::memory_order_release);
    {
        CompileThreadScope scope;
        runCompilePass(true);
    }
    if (!startThreads) return true;
    audioCounter = Debug::addCounter("audio");
    compileCounter = Debug::addCounter("compile");
    bool started = xTaskCreatePinnedToCore(audioLoop, "audioLoop", 16384, nullptr, 59, nullptr, 1) &&
                   xTaskCreatePinnedToCore(controlLoop, "controlLoop", 8192, nullptr, 3, nullptr, 0) &&
                   xTaskCreatePinnedToCore(compileLoop, "compileLoop", 16384, nullptr, 2, nullptr, 0);
    if (!started) LOGE(TAG, "Audio threads did not all start\n");
    return started;
}

void AudioProcessor::createMeterNodes() {
    Node* system = System::systemNode();
    if (!system) return;
    // Read-only ('_') and never handed to Storage; "sys" lies outside every preset's scope.
    Node* folder = new NodeItem(system, "_meters", "Meters", "", "vfolder");
    const char* keys[2][2] = {{"_out1", "_in1"}, {"_out2", "_in2"}};
    const char* names[2][2] = {{"Output 1", "Input 1"}, {"Output 2", "Input 2"}};
    for (int direction : {kInput, kOutput}) {
        for (int channel = 0; channel < 2; ++channel) {
            meterNodes[channel][direction] = new NodeFloat(folder, keys[channel][direction], names[channel][direction],
                                                           kMeterFloorDb, 0.0f, kMeterFloorDb, "dB", 0.5f, false, 1);
        }
    }
}

void AudioProcessor::updateMeterNodes() {
    for (int channel = 0; channel < 2; ++channel) {
        for (int direction = 0; direction < 2; ++direction) {
            NodeFloat* node = meterNodes[channel][direction];
            if (!node) continue;
            // Rounded to the one decimal shown, so a node changes (and is reported) only when its text does.
            float shown = std::round(meter(channel, direction) * 10.0f) / 10.0f;
            if (shown != node->getValue()) node->setValue(shown);
        }
    }
}

void AudioProcessor::debounce(Node*) {
    if (onCompileThread) return;
    requestFade();
}

void AudioProcessor::requestFade() {
    if (fadeRequests.load(std::memory_order_acquire) == fadeServed.load(std::memory_order_acquire)) {
        requestTime.store(esp_timer_get_time(), std::memory_order_relaxed);
    }
    fadeRequests.fetch_add(1, std::memory_order_acq_rel);
}

bool AudioProcessor::isSilentPass() { return silentPass.load(std::memory_order_relaxed); }

void AudioProcessor::beginPresetLoad() { presetLoads.fetch_add(1, std::memory_order_acq_rel); }

void AudioProcessor::endPresetLoad() {
    int count = presetLoads.load(std::memory_order_acquire);
    while (count > 0 && !presetLoads.compare_exchange_weak(count, count - 1, std::memory_order_acq_rel)) {}
}

bool AudioProcessor::isPresetLoading() { return presetLoads.load(std::memory_order_acquire) > 0; }

float (*AudioProcessor::getInput())[Frame::kSamples] { return inputCopy; }

float AudioProcessor::meter(int channel, int direction) {
    if (!validMeter(channel, direction)) return 0.0f;
    float level = meterLevel[channel][direction].load(std::memory_order_relaxed);
    if (!(level > 0.0f)) return kMeterFloorDb;
    float db = 20.0f * std::log10(level);
    if (db < kMeterFloorDb) return kMeterFloorDb;
    return db > 0.0f ? 0.0f : db;
}

bool AudioProcessor::channelSaturation(int channel, int direction) {
    if (!validMeter(channel, direction)) return false;
    return clipHold[channel][direction].load(std::memory_order_relaxed) > 0;
}

bool AudioProcessor::saturation() {
    for (int channel = 0; channel < 2; ++channel) {
        for (int direction = 0; direction < 2; ++direction) {
            if (channelSaturation(channel, direction)) return true;
        }
    }
    return false;
}

bool AudioProcessor::audioStep() {
    CodecInterface* codec = Codec::active();
    if (!codec) return false;
    alignas(64) float frame[Frame::kChannels][Frame::kSamples];
    if (!codec->read(frame)) return false;
    Debug::start(audioCounter);
    processFrame(frame);
    codec->write(frame);
    Debug::stop(audioCounter);
    return true;
}

void AudioProcessor::processFrame(float (*frame)[Frame::kSamples]) {
    lastFrameTime.store(esp_timer_get_time(), std::memory_order_relaxed);
    std::memcpy(inputCopy, frame, sizeof inputCopy);
    feedMeters(kInput, frame);
    planFade();
    AudioBlock::runRing(frame);
    applyFade(frame);
    Frame::sanitize(frame[0]);
    Frame::sanitize(frame[1]);
    AudioUSB::exchange(frame);
    feedMeters(kOutput, frame);
}

void AudioProcessor::feedMeters(int direction, float (*frame)[Frame::kSamples]) {
    for (int channel = 0; channel < 2; ++channel) {
        float peak = Frame::peak(frame[channel]);
        float held = meterLevel[channel][direction].load(std::memory_order_relaxed) * kMeterRelease;
        meterLevel[channel][direction].store(peak > held ? peak : held, std::memory_order_relaxed);
        std::atomic<int>& hold = clipHold[channel][direction];
        if (peak >= kClipLevel) {
            hold.store(kClipHoldFrames, std::memory_order_relaxed);
        } else {
            int left = hold.load(std::memory_order_relaxed);
            if (left > 0) hold.store(left - 1, std::memory_order_relaxed);
        }
    }
}

const float* AudioProcessor::lineFeed() { return lineFeedGains; }

void AudioProcessor::planFade() {
    const FadeState before = FadeState(fadeState.load(std::memory_order_acquire));
    FadeState state = before;
    if (state == FadeState::Idle &&
        fadeRequests.load(std::memory_order_acquire) == fadeServed.load(std::memory_order_acquire)) {
        fadePlan = FadePlan{};
        if (!lineFeedIsOne) {
            for (float& gain : lineFeedGains) gain = 1.0f;
            lineFeedIsOne = true;
        }
        return;
    }
    if (state == FadeState::Idle) state = FadeState::FadingOut;
    if (state == FadeState::Compiled) state = FadeState::FadingIn;
    const float from = fadeGain;
    float to = from;
    switch (state) {
    case FadeState::FadingOut:
        to = from * kFadeOutFactor;
        if (to < kSilentGain) {
            to = 0.0f;
            state = FadeState::Silent;
        }
        break;
    case FadeState::Silent:
        to = 0.0f;
        break;
    case FadeState::FadingIn:
        to = (from > kSilentGain ? from : kSilentGain) * kFadeInFactor;
        if (to >= 1.0f) {
            to = 1.0f;
            state = FadeState::Idle;
        }
        break;
    default:
        break;
    }
    fadePlan = FadePlan{before, state, from, to, true};
    // A raised cosine over the fade's progress (the output gain on a log scale, from 1 to the silent gain):
    // it keeps in step with the output, 0 exactly when the output is silent, but spreads its change evenly
    // over the fade's 19 frames and leaves and regains 1 and 0 flat, so the dip it leaves in the echoes
    // carries no high frequencies.
    const float feedTo = lineFeedAt(to);
    const float feedFrom = lineFeedGains[15];
    for (int sample = 0; sample < Frame::kSamples; ++sample)
        lineFeedGains[sample] = Frame::rampAt(feedFrom, feedTo, sample);
    lineFeedIsOne = false;
}

void AudioProcessor::applyFade(float (*frame)[Frame::kSamples]) {
    if (!fadePlan.active) return;
    const float from = fadePlan.from, to = fadePlan.to;
    if (from == 0.0f && to == 0.0f) {
        std::memset(frame, 0, sizeof(float) * 32);
    } else {
        for (int channel = 0; channel < Frame::kChannels; ++channel) Frame::rampGain(frame[channel], from, to);
    }
    fadeGain = to;
    publishedFadeGain.store(to, std::memory_order_relaxed);
    // Silent is left only by the compile thread (this thread never stores while it was Silent); every other
    // state is the audio thread's.
    if (fadePlan.state != fadePlan.before) fadeState.store(int(fadePlan.state), std::memory_order_release);
}

void AudioProcessor::runCompilePass(bool latching) {
    if (latching) fadeServed.store(fadeRequests.load(std::memory_order_acquire), std::memory_order_release);
    silentPass.store(latching, std::memory_order_relaxed);
    AudioBlock::compileRing();
    silentPass.store(false, std::memory_order_relaxed);
}

void AudioProcessor::compileStep() {
    CompileThreadScope scope;
    updateMeterNodes();
    if (isPresetLoading()) return;
    FadeState state = FadeState(fadeState.load(std::memory_order_acquire));
    bool pending = fadeRequests.load(std::memory_order_acquire) != fadeServed.load(std::memory_order_acquire);
    bool latching = state == FadeState::Silent;
    if (!latching && pending) {
        int64_t now = esp_timer_get_time();
        bool audioStopped = now - lastFrameTime.load(std::memory_order_relaxed) >= kAudioStalledUs;
        bool waitedEnough = now - requestTime.load(std::memory_order_relaxed) >= kAudioStalledUs;
        latching = audioStopped || waitedEnough;
    }
    runCompilePass(latching);
    if (state == FadeState::Silent) {
        int silent = int(FadeState::Silent);
        fadeState.compare_exchange_strong(silent, int(FadeState::Compiled), std::memory_order_acq_rel);
    }
}

void AudioProcessor::controlStep() {
    if (void (*task)() = controlTask.load(std::memory_order_acquire)) task();
}

AudioProcessor::FadeState AudioProcessor::getFadeState() {
    return FadeState(fadeState.load(std::memory_order_acquire));
}

float AudioProcessor::getFadeGain() { return publishedFadeGain.load(std::memory_order_relaxed); }

void AudioProcessor::enableFlushToZero() {
#if defined(__x86_64__) || defined(__i386__)
    // Flush-to-zero and denormals-are-zero.
    _mm_setcsr(_mm_getcsr() | 0x8040);
#elif defined(__aarch64__)
    uint64_t control;
    asm volatile("mrs %0, fpcr" : "=r"(control));
    control |= uint64_t(1) << 24;
    asm volatile("msr fpcr, %0" : : "r"(control));
#elif defined(__arm__)
    uint32_t control;
    asm volatile("vmrs %0, fpscr" : "=r"(control));
    control |= uint32_t(1) << 24;
    asm volatile("vmsr fpscr, %0" : : "r"(control));
#endif
}

void AudioProcessor::audioLoop(void*) {
    enableFlushToZero();
    for (;;) {
        if (!audioStep()) vTaskDelay(kNoCodecSleepUs);
    }
}

void AudioProcessor::compileLoop(void*) {
    onCompileThread = true;
    for (;;) {
        Debug::start(compileCounter);
        compileStep();
        Debug::stop(compileCounter);
        vTaskDelay(kPassPeriodUs);
    }
}

void AudioProcessor::controlLoop(void*) {
    for (;;) {
        controlStep();
        vTaskDelay(kPassPeriodUs);
    }
}
