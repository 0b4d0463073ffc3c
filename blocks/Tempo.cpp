#include "blocks/Tempo.h"

#include <cmath>
#include <cstdio>

#include "blocks/BlockNodes.h"
#include "audio/dsp/Frame.h"
#include "porting/Log.h"
#include "core/NodeControlMidiTempo.h"
#include "core/NodeEnum.h"
#include "core/NodeFloat.h"
#include "core/NodeOnOff.h"
#include "core/NodePreset.h"
#include "porting/Shims.h"
#include "core/Storage.h"

namespace {

const char* const TAG = "Tempo";

struct NoteValue {
    const char* name;
    float beats;
};
const NoteValue kNoteValues[] = {
    {"OFF", 0.0f},         {"1/1", 4.0f},   {"1/2", 2.0f}, {"1/4.", 1.5f},        {"1/4", 1.0f},
    {"1/4T", 2.0f / 3.0f}, {"1/8.", 0.75f}, {"1/8", 0.5f}, {"1/8T", 1.0f / 3.0f}, {"1/16", 0.25f},
};
const int kNoteValueCount = int(sizeof kNoteValues / sizeof kNoteValues[0]);

float clampBpm(float value) {
    if (!(value >= Tempo::kMinBpm)) return Tempo::kMinBpm;
    return value > Tempo::kMaxBpm ? Tempo::kMaxBpm : value;
}

}

Tempo::Tempo(Node* folder, NodePreset* preset) : AudioBlock("Tempo", folder, exec, kFront) {
    bpm = new NodeFloat(folder, "tempo_bpm", "Tempo", kMinBpm, kMaxBpm, 120.0f, "BPM", 0.5f, false, 1);
    lock = new NodeOnOff(folder, "tempo_lock", "Tempo Lock", NodeOnOff::ON);
    if (preset) {
        preset->addIgnoreNode(bpm);
        preset->addIgnoreNode(lock);
    }
    Storage::addItem(bpm);
    Storage::addItem(lock);
    // The MIDI clock measured into a hidden read-only float, which the lock follows like any other source.
    NodeFloat* clock =
        new NodeFloat(folder, "_midi_bpm", "MIDI Tempo", kMinBpm, kMaxBpm, 120.0f, "BPM", 0.5f, false, 1);
    clock->setStyleVisible(false);
    midiClock = new NodeControlMidiTempo(folder, "_midi_clock", "MIDI Clock", clock);
    midiClock->setStyleVisible(false);
    addTempoSource(clock, "MIDI clock");
}

void Tempo::addTempoSource(NodeFloat* source, const char* name) {
    if (!source) return;
    std::lock_guard<std::mutex> guard(sourcesLock);
    sources.push_back({source, name ? name : "", source->getChangeTime(), 0});
}

void Tempo::manualTap() {
    std::lock_guard<std::mutex> guard(tapLock);
    const int64_t now = esp_timer_get_time();
    // A clock that went back (the time of day was set) starts a new count too.
    if (taps == 0 || now - lastTap > kTapDisarmUs || now <= lastTap) {
        taps = 1;
        intervalCount = 0;
        lastTap = now;
        return;
    }
    const int64_t interval = now - lastTap;
    lastTap = now;
    ++taps;
    const int kept = int(sizeof intervals / sizeof intervals[0]);
    for (int i = kept - 1; i > 0; --i) intervals[i] = intervals[i - 1];
    intervals[0] = interval;
    if (intervalCount < kept) ++intervalCount;
    if (taps < 4) return;
    int64_t sum = 0;
    for (int i = 0; i < intervalCount; ++i) sum += intervals[i];
    const double tapped = 60e6 * intervalCount / double(sum);
    bpm->setValue(clampBpm(float(std::round(tapped * 10.0) / 10.0)));
}

bool Tempo::manualStatus() { return getTapCount() > 3; }

int Tempo::getTapCount() {
    std::lock_guard<std::mutex> guard(tapLock);
    if (taps > 0 && esp_timer_get_time() - lastTap > kTapDisarmUs) taps = 0;
    return taps;
}

std::string Tempo::toString() const {
    char text[16];
    std::snprintf(text, sizeof text, "%.1f", double(getBpm()));
    return text;
}

float Tempo::getBpm() const { return clampBpm(bpm->getValue()); }

NodeEnum* Tempo::syncChoice(Node* folder, const char* key, const char* displayName) {
    std::vector<const char*> options;
    for (const NoteValue& value : kNoteValues) options.push_back(value.name);
    return BlockNodes::choice(folder, key, displayName, options, kNoteValues[0].name, false);
}

float Tempo::noteSeconds(int option) const {
    if (option <= 0 || option >= kNoteValueCount) return 0.0f;
    return kNoteValues[option].beats * 60.0f / getBpm();
}

void Tempo::follow(int index) {
    const Source& source = sources[size_t(index)];
    const float value = clampBpm(source.node->getValue());
    if (value == bpm->getValue()) return;
    bpm->setValue(value);
    // One line when another source takes over, not one per clock measurement.
    if (index != followed) LOGI(TAG, "Following %s: %.1f BPM\n", source.name.c_str(), double(value));
    followed = index;
}

bool Tempo::compile() {
    std::lock_guard<std::mutex> guard(sourcesLock);
    const bool locked = lock->isOn();
    int newest = -1;
    int64_t newestChange = 0;
    for (size_t i = 0; i < sources.size(); ++i) {
        const int64_t changed = sources[i].node->getChangeTime();
        if (changed > sources[i].seenChange) {
            sources[i].changedAt = changed;
            if (newest < 0 || changed > newestChange) {
                newest = int(i);
                newestChange = changed;
            }
        }
        sources[i].seenChange = changed;
    }
    // Switching the lock on takes the source changed last, if any has changed.
    if (locked && !lockWasOn && newest < 0) {
        for (size_t i = 0; i < sources.size(); ++i) {
            if (sources[i].changedAt > (newest < 0 ? 0 : sources[size_t(newest)].changedAt)) newest = int(i);
        }
    }
    lockWasOn = locked;
    if (locked && newest >= 0) follow(newest);
    return false;
}

bool Tempo::exec(void*, float (*)[Frame::kSamples]) { return false; }
