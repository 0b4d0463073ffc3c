#include "audio/FileCodec.h"

#include <cerrno>
#include <cmath>
#include <ctime>
#include <sndfile.h>

#include "audio/dsp/Frame.h"
#include "porting/Log.h"

namespace {

const char* const TAG = "FileCodec";
const int64_t kSecondNs = 1000000000;
// A frame of 16 samples at 48 kHz lasts 1e9 / 3000 ns; deadlines are computed from the frame count so the
// fraction never accumulates.
const int64_t kFramesPerSecond = 3000;
const int64_t kStallNs = 100000000;

int64_t monotonicNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t(now.tv_sec) * kSecondNs + now.tv_nsec;
}

bool isFinite(float sample) { return std::isfinite(sample); }

}

FileCodec::FileCodec(std::string inputPath, std::string outputPath, bool paced)
    : inputPath(std::move(inputPath)), outputPath(std::move(outputPath)), paced(paced) {}

FileCodec::~FileCodec() {
    closeOutput();
    if (input) sf_close(input);
}

bool FileCodec::initialize() {
    if (!inputPath.empty()) {
        SF_INFO info{};
        input = sf_open(inputPath.c_str(), SFM_READ, &info);
        if (!input) {
            LOGE(TAG, "Cannot read input %s: %s\n", inputPath.c_str(), sf_strerror(nullptr));
            return false;
        }
        if (info.samplerate != 48000 || info.channels < 1) {
            LOGE(TAG, "Input %s has %d channels at %d Hz; 48000 Hz needed\n", inputPath.c_str(), info.channels,
                 info.samplerate);
            sf_close(input);
            input = nullptr;
            return false;
        }
        inputChannels = info.channels;
        inputBlock.assign(size_t(kBlockFrames) * size_t(inputChannels), 0.0f);
    }
    if (!outputPath.empty()) {
        SF_INFO info{};
        info.samplerate = 48000;
        info.channels = 2;
        info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
        output = sf_open(outputPath.c_str(), SFM_WRITE, &info);
        if (!output) {
            LOGE(TAG, "Cannot create output %s: %s\n", outputPath.c_str(), sf_strerror(nullptr));
            if (input) sf_close(input);
            input = nullptr;
            return false;
        }
        outputBlock.assign(size_t(kBlockFrames) * 2, 0.0f);
    }
    LOGI(TAG, "Input %s, output %s, %s\n", inputPath.empty() ? "silence" : inputPath.c_str(),
         outputPath.empty() ? "discarded" : outputPath.c_str(), paced ? "real time" : "unpaced");
    return true;
}

bool FileCodec::start() {
    timelineStartNs = -1;
    return true;
}

void FileCodec::waitForDeadline() {
    int64_t now = monotonicNs();
    if (timelineStartNs < 0) {
        timelineStartNs = now;
        framesOnTimeline = 0;
    }
    int64_t deadline = timelineStartNs + (framesOnTimeline + 1) * kSecondNs / kFramesPerSecond;
    if (now - deadline > kStallNs) {
        timelineStartNs = now;
        framesOnTimeline = 0;
        deadline = now + kSecondNs / kFramesPerSecond;
    }
    ++framesOnTimeline;
    timespec wake{time_t(deadline / kSecondNs), long(deadline % kSecondNs)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &wake, nullptr) == EINTR) {}
}

bool FileCodec::refillInput() {
    sf_count_t got = sf_readf_float(input, inputBlock.data(), kBlockFrames);
    inputAvailable = got > 0 ? int(got) : 0;
    inputPosition = 0;
    return inputAvailable > 0;
}

bool FileCodec::read(float (*frame)[Frame::kSamples]) {
    bool fromFile = input && !inputEnded;
    if (paced || !fromFile) waitForDeadline();
    int valid = 0;
    for (int sample = 0; sample < Frame::kSamples; ++sample) {
        if (fromFile && inputPosition >= inputAvailable && !refillInput()) {
            inputEnded = true;
            fromFile = false;
        }
        if (!fromFile) {
            frame[0][sample] = 0.0f;
            frame[1][sample] = 0.0f;
            continue;
        }
        const float* source = &inputBlock[size_t(inputPosition) * size_t(inputChannels)];
        for (int channel = 0; channel < 2; ++channel) {
            float value = channel < inputChannels ? source[channel] : 0.0f;
            // A float file can hold NaN or infinities; they stop at the door.
            frame[channel][sample] = isFinite(value) ? value * inputGain : 0.0f;
        }
        ++inputPosition;
        ++valid;
    }
    lastValid = input ? valid : Frame::kSamples;
    return true;
}

bool FileCodec::write(float (*frame)[Frame::kSamples]) {
    if (output) {
        for (int sample = 0; sample < lastValid; ++sample) {
            outputBlock[size_t(outputFill) * 2] = frame[0][sample];
            outputBlock[size_t(outputFill) * 2 + 1] = frame[1][sample];
            if (++outputFill == kBlockFrames) flushOutput();
        }
    }
    if (input && inputEnded && !isFinished()) {
        closeOutput();
        finished.store(true, std::memory_order_release);
        LOGI(TAG, "Input %s ended\n", inputPath.c_str());
    }
    return true;
}

void FileCodec::flushOutput() {
    if (!output || outputFill == 0) return;
    sf_count_t written = sf_writef_float(output, outputBlock.data(), outputFill);
    if (written != outputFill) LOGE(TAG, "Writing %s failed: %s\n", outputPath.c_str(), sf_strerror(output));
    sf_command(output, SFC_UPDATE_HEADER_NOW, nullptr, 0);
    outputFill = 0;
}

void FileCodec::closeOutput() {
    if (!output) return;
    flushOutput();
    sf_close(output);
    output = nullptr;
}

void FileCodec::setInputGain(float gainDb) {
    if (!std::isfinite(gainDb)) return;
    inputGain = gainDb == 0.0f ? 1.0f : std::pow(10.0f, gainDb / 20.0f);
}
