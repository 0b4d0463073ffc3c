#include "blocks/DelayEngine.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "audio/AudioProcessor.h"
#include "blocks/BlockNodes.h"
#include "audio/dsp/Frame.h"
#include "core/NodeEnum.h"
#include "core/NodeFloat.h"
#include "core/NodeItem.h"
#include "core/NodeOnOff.h"
#include "blocks/Tempo.h"

namespace {
const float kRate = Frame::kSampleRate;
const float kToneLowHz = 800.0f;
const float kToneHighHz = 16000.0f;
}

DelayEngine::DelayEngine(Node* folder, Tempo* tempo) : AudioBlock("DelayEngine", folder, exec, kBack), tempo(tempo) {
    onOff = BlockNodes::onOff(folder);
    time = BlockNodes::parameter(folder, "time", "Time", 20.0f, kLongestMs, 400.0f, "ms", 0);
    feedback = BlockNodes::parameter(folder, "fb", "Feedback", 0.0f, 95.0f, 35.0f, "%", 0);
    level = BlockNodes::parameter(folder, "level", "Level", 0.0f, 100.0f, 40.0f, "%", 0);
    tone = BlockNodes::parameter(folder, "tone", "Tone", 0.0f, 100.0f, 70.0f, "%", 0);
    pingPong = BlockNodes::choice(folder, "pingpong", "Ping-Pong", {"OFF", "ON"}, "OFF", false);
    sync = Tempo::syncChoice(BlockNodes::tempoFolder(folder), "time", "Time Sync");
    const int longest = int(kLongestMs * 0.001f * kRate) + 2;
    for (DelayLine& line : lines) line.configure(longest);
}

bool DelayEngine::compile() {
    enabled.latch(onOff->isOn() ? 1 : 0);
    const float noteSeconds = tempo ? tempo->noteSeconds(sync->getIndex()) : 0.0f;
    double milliseconds = noteSeconds > 0.0f ? noteSeconds * 1000.0 : time->getValue();
    // A dotted whole note at a slow tempo would not fit: halve it until it does.
    while (milliseconds > kLongestMs) milliseconds *= 0.5;
    // On a 1/256-sample grid, so a whole number of samples is read exactly, without float noise.
    delayTarget.store(float(std::round(milliseconds * kRate / 1000.0 * 256.0) / 256.0), std::memory_order_relaxed);
    feedbackGain.setTarget(feedback->getValue() / 100.0f);
    wetGain.setTarget(level->getValue() / 100.0f);
    // The tone sweeps the loop's low pass exponentially; full tone leaves the loop open.
    const float brightness = tone->getValue() / 100.0f;
    const float cutoff = kToneLowHz * std::pow(kToneHighHz / kToneLowHz, brightness);
    toneCoefficient.setTarget(brightness >= 1.0f ? 1.0f
                                                 : float(1.0 - std::exp(-2.0 * std::numbers::pi * cutoff / kRate)));
    crossed.store(pingPong->getIndex() == 1, std::memory_order_relaxed);
    return false;
}

float DelayEngine::echo(const DelayLine& line, float samples) const {
    // What the line held before the block was switched on reads as silence; at the boundary the older of
    // the two interpolated samples is such a one.
    const int whole = int(samples);
    if (whole < freshSamples) return line.read(samples);
    if (whole > freshSamples) return 0.0f;
    return (1.0f - (samples - float(whole))) * line.readInteger(whole);
}

// The usual frame: the time has settled, every sample it reads was written since the block was switched on, and
// it is longer than a frame, so the frame's reads all come before its writes and only the tone filter's
// recursion runs sample by sample.
void DelayEngine::runSteady(float (*frame)[Frame::kSamples], float delaySamples, const float* feeds,
                            const float* regeneration, const float* tone, const float* wet, bool pingPong) {
    const int whole = int(delaySamples);
    const float fraction = delaySamples - float(whole);
    float echoes[2][Frame::kSamples], into[2][Frame::kSamples];
    for (int channel = 0; channel < 2; ++channel) {
        float older[Frame::kSamples];
        lines[channel].readBlock(echoes[channel], Frame::kSamples, whole);
        lines[channel].readBlock(older, Frame::kSamples, whole + 1);
        for (int i = 0; i < Frame::kSamples; ++i) echoes[channel][i] += fraction * (older[i] - echoes[channel][i]);
    }
    if (pingPong) {
        for (int i = 0; i < Frame::kSamples; ++i) {
            into[0][i] = feeds[i] * 0.5f * (frame[0][i] + frame[1][i]) + regeneration[i] * echoes[1][i];
            into[1][i] = regeneration[i] * echoes[0][i];
        }
    } else {
        for (int channel = 0; channel < 2; ++channel) {
            for (int i = 0; i < Frame::kSamples; ++i)
                into[channel][i] = feeds[i] * frame[channel][i] + regeneration[i] * echoes[channel][i];
        }
    }
    for (int channel = 0; channel < 2; ++channel) {
        float state = toneState[channel];
        for (int i = 0; i < Frame::kSamples; ++i) into[channel][i] = state += tone[i] * (into[channel][i] - state);
        toneState[channel] = state;
        lines[channel].writeBlock(into[channel], Frame::kSamples);
        for (int i = 0; i < Frame::kSamples; ++i) frame[channel][i] += wet[i] * echoes[channel][i];
    }
}

bool DelayEngine::exec(void* block, float (*frame)[Frame::kSamples]) {
    DelayEngine* engine = self<DelayEngine>(block);
    if (!engine->enabledFade.begin(engine->enabled.get() != 0, frame, 2)) {
        engine->running = false;
        return false;
    }
    const double target = engine->delayTarget.load(std::memory_order_relaxed);
    if (!engine->running) {
        engine->running = true;
        engine->freshSamples = 0;
        engine->toneState[0] = engine->toneState[1] = 0.0f;
        engine->delay.jumpTo(target);
        engine->feedbackGain.jumpToTarget();
        engine->wetGain.jumpToTarget();
        engine->toneCoefficient.jumpToTarget();
        engine->feed.jumpTo(0.0f);
    }
    const SmoothedValue::Ramp feedbackAmount = engine->feedbackGain.nextFrame();
    const SmoothedValue::Ramp wetAmount = engine->wetGain.nextFrame();
    const SmoothedValue::Ramp toneAmount = engine->toneCoefficient.nextFrame();
    const SmoothedValue::Ramp feedAmount = engine->feed.nextFrame();
    const bool pingPong = engine->crossed.load(std::memory_order_relaxed);
    const float* const structuralFeed = AudioProcessor::lineFeed();
    DelayLine& left = engine->lines[0];
    DelayLine& right = engine->lines[1];
    DelayGlide delay = engine->delay;
    const int longest = left.maxDelay();
    // The frame's ramps first, all lanes at once; the loop through the lines is sample by sample.
    float feeds[Frame::kSamples], regeneration[Frame::kSamples], tone[Frame::kSamples], wet[Frame::kSamples];
    feedAmount.fill(feeds);
    for (int i = 0; i < Frame::kSamples; ++i) feeds[i] *= structuralFeed[i];
    feedbackAmount.fill(regeneration);
    toneAmount.fill(tone);
    wetAmount.fill(wet);
    if (delay.value() == target && engine->freshSamples > int(target) + 1 && target > Frame::kSamples + 1) {
        engine->runSteady(frame, float(target), feeds, regeneration, tone, wet, pingPong);
        engine->freshSamples = std::min(longest, engine->freshSamples + Frame::kSamples);
    } else {
        float toneLeft = engine->toneState[0], toneRight = engine->toneState[1];
        for (int i = 0; i < Frame::kSamples; ++i) {
            const float readAt = float(delay.next(target));
            const float echoLeft = engine->echo(left, readAt);
            const float echoRight = engine->echo(right, readAt);
            const float dryLeft = frame[0][i], dryRight = frame[1][i];
            const float fed = feeds[i], regenerated = regeneration[i];
            float intoLeft, intoRight;
            if (pingPong) {
                intoLeft = fed * 0.5f * (dryLeft + dryRight) + regenerated * echoRight;
                intoRight = regenerated * echoLeft;
            } else {
                intoLeft = fed * dryLeft + regenerated * echoLeft;
                intoRight = fed * dryRight + regenerated * echoRight;
            }
            const float toneNow = tone[i];
            toneLeft += toneNow * (intoLeft - toneLeft);
            toneRight += toneNow * (intoRight - toneRight);
            left.write(toneLeft);
            right.write(toneRight);
            if (engine->freshSamples < longest) ++engine->freshSamples;
            const float wetNow = wet[i];
            frame[0][i] = dryLeft + wetNow * echoLeft;
            frame[1][i] = dryRight + wetNow * echoRight;
        }
        engine->toneState[0] = toneLeft;
        engine->toneState[1] = toneRight;
    }
    engine->delay = delay;
    engine->toneState[0] = Frame::sanitizeState(engine->toneState[0]);
    engine->toneState[1] = Frame::sanitizeState(engine->toneState[1]);
    engine->enabledFade.end(frame);
    return false;
}
