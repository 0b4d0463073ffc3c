#include "blocks/RedIzuzir.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <istream>
#include <streambuf>
#include <string>

#include "audio/AudioProcessor.h"
#include "audio/Codec.h"
#include "audio/CodecInterface.h"
#include "audio/dsp/BiquadCoefficients.h"
#include "blocks/BlockNodes.h"
#include "audio/dsp/Frame.h"
#include "porting/Log.h"
#include "neural/ModelCheck.h"
#include "neural/ModelLimits.h"
#include "neural/NeuralModel.h"
#include "core/Debug.h"
#include "core/NodeFloat.h"
#include "core/NodeList.h"
#include "core/NodeOnOff.h"
#include "core/NodeParList.h"
#include "porting/Shims.h"

namespace {

const char* const TAG = "RedIzuzir";

std::atomic<int> playersBuilt{0};
std::atomic<bool> workerThreads{true};

// A frame lasts 333 us and the worker's block far less; a worker that stays inside a slot this long is
// stalled, and the compile thread tries again in a later pass.
const uint32_t kLeavePollUs = 100;
const uint32_t kLeaveWaitUs = 20000;
const uint32_t kStopWaitUs = 5000000;
// How long the audio thread waits for a worker inside its block: a quarter of the 333 us frame in real time,
// where the rest of the chain needs the time; an offline render waits for the result, a worker that stalls
// that long is broken.
const uint64_t kLateWaitNs = 83000;
const uint64_t kOfflineWaitNs = 1000000000;

// Named after the player's model list, which names the player across restarts and test builds.
int givenUpCounterOf(const char* listKey) {
    char name[32];
    std::snprintf(name, sizeof name, "%s given-up frames", listKey);
    return Debug::addEventCounter(name);
}

// Reads a slot's text in place.
class TextBuffer : public std::streambuf {
public:
    explicit TextBuffer(const std::vector<uint8_t>& text) {
        char* begin = const_cast<char*>(reinterpret_cast<const char*>(text.data()));
        setg(begin, begin, begin + text.size());
    }
};

float decibelsToGain(float db) { return std::pow(10.0f, db / 20.0f); }

float toneKnobDb(const NodeFloat* knob) {
    const float centre = RedIzuzir::kToneKnobMax / 2.0f;
    return (knob->getValue() - centre) / centre * RedIzuzir::kToneRangeDb;
}

}

RedIzuzir::RedIzuzir(Node* folder, Node* root, NodePreset* preset, const char* listKey, const char* label)
    : RedIzuzir(folder, root, preset, listKey, label, false) {}

RedIzuzir::RedIzuzir(Node* folder, Node* root, NodePreset*, const char* listKey, const char* label,
                     bool copyLeftToRightWhenBypassed)
    : AudioBlock("RedIzuzir", folder, exec, kFront),
      copyLeftToRight(copyLeftToRightWhenBypassed),
      playerIndex(playersBuilt.fetch_add(1)),
      givenUpCounter(givenUpCounterOf(listKey)) {
    onOff = BlockNodes::onOff(folder);
    list = new NodeList(root, listKey, label, kItemType, kSlotSize, kSlotCount, kChunkSize, true);
    list->setValidator(RuveroRidev::ModelCheck::Check);
    selector = new NodeParList(folder, "model", "Model", "", list);
    selector->setOnChange(AudioProcessor::debounce);
    gain = BlockNodes::parameter(folder, "gain", "Gain", kMinGainDb, kMaxGainDb, 0.0f, "dB", 1);
    const float centre = kToneKnobMax / 2.0f;
    low = BlockNodes::parameter(folder, "low", "Low", 0.0f, kToneKnobMax, centre, "", 1);
    mid = BlockNodes::parameter(folder, "mid", "Mid", 0.0f, kToneKnobMax, centre, "", 1);
    treble = BlockNodes::parameter(folder, "treble", "Treble", 0.0f, kToneKnobMax, centre, "", 1);

    for (int i = 0; i < kSlotCount; ++i) loadModel(i);
    toneStack.setGlide(SmoothedValue::frameFraction(SmoothedValue::kDefaultSeconds));
    updateKnobs();
    if (workerThreads.load()) startWorker();
}

RedIzuzir::~RedIzuzir() {
    if (!workerRunning.load(std::memory_order_acquire)) return;
    stopping.store(true, std::memory_order_release);
    wake.post();
    for (uint32_t waited = 0; workerRunning.load(std::memory_order_acquire); waited += 1000) {
        if (waited >= kStopWaitUs) {
            // Freeing the models under a running worker would be worse than stopping here.
            LOGE(TAG, "NAM player %d does not stop\n", playerIndex);
            std::abort();
        }
        vTaskDelay(1000);
    }
}

void RedIzuzir::setWorkerThreads(bool start) { workerThreads.store(start); }

void RedIzuzir::startWorker() {
    workerRunning.store(true, std::memory_order_release);
    const int core = 2 + playerIndex % 2;
    if (!xTaskCreatePinnedToCore(playerThread, "NAM player", 16384, this, kWorkerPriority, nullptr, core)) {
        workerRunning.store(false, std::memory_order_release);
        LOGE(TAG, "NAM player %d did not start\n", playerIndex);
    }
}

// ---- Models (the thread that builds the player, then the compile thread) ----

RedIzuzir::Build RedIzuzir::buildModel(int i, const std::vector<uint8_t>& text, Staged& built) const {
    using RuveroRidev::ModelBudget;
    built.model.reset();
    built.reservation = {};
    if (text.empty()) return Build::NoModel;
    const std::string name = list->getPath() + "[" + std::to_string(i) + "]";
    std::unique_ptr<RuveroRidev::NeuralModel> model;
    try {
        TextBuffer buffer(text);
        std::istream stream(&buffer);
        model = RuveroRidev::NeuralModel::CreateFromStream(stream, name); // prewarmed
    } catch (const std::exception&) {
        LOGE(TAG, "Error parsing nam file\n");
        return Build::NoModel;
    }
    if (!model) return Build::NoModel;
    if (std::string reason; !ModelBudget::FitsFrame(*model, reason)) {
        LOGE(TAG, "%s refused: %s\n", name.c_str(), reason.c_str());
        return Build::Refused;
    }
    if (!ModelBudget::Reserve(*model, slots[size_t(i)].reservation, built.reservation)) {
        LOGE(TAG, "%s refused: its %lld bytes would take the loaded models past their budget of %lld bytes\n",
             name.c_str(), static_cast<long long>(model->MemoryBytes()), static_cast<long long>(ModelBudget::Limit()));
        return Build::Refused;
    }
    built.model = std::move(model);
    return Build::Model;
}

void RedIzuzir::loadModel(int i) {
    const NodeListElement element = list->elementAt(i);
    seenVersion[size_t(i)] = element.version;
    // A refused model leaves the slot without one; its file stays stored.
    Staged built;
    buildModel(i, *element.data, built);
    installModel(i, built);
}

bool RedIzuzir::isPlayable(int i) const {
    if (i < 0 || i >= kSlotCount) return false;
    const Slot& slot = slots[size_t(i)];
    return slot.loaded.load(std::memory_order_acquire) && slot.model && !slot.dirty.load(std::memory_order_relaxed);
}

bool RedIzuzir::waitUntilPlayerLeaves(int i) const {
    for (uint32_t waited = 0;
         playing.load(std::memory_order_seq_cst) == i || fadingFrom.load(std::memory_order_seq_cst) == i;
         waited += kLeavePollUs) {
        if (waited >= kLeaveWaitUs) return false;
        vTaskDelay(kLeavePollUs);
    }
    return true;
}

bool RedIzuzir::installModel(int i, Staged& next) {
    Slot& slot = slots[size_t(i)];
    slot.dirty.store(true, std::memory_order_seq_cst);
    if (!waitUntilPlayerLeaves(i)) return false;
    std::swap(slot.model, next.model);
    std::swap(slot.reservation, next.reservation);
    slot.needsPrewarm.store(false, std::memory_order_relaxed); // the new model comes prewarmed
    ++slot.generation;
    slot.inputGain = slot.model ? slot.model->InputGain() : 1.0f;
    slot.outputGain = slot.model ? slot.model->OutputGain() : 1.0f;
    slot.loaded.store(true, std::memory_order_release);
    slot.dirty.store(false, std::memory_order_seq_cst);
    // The old model, which the worker can no longer reach, and its share of the memory budget.
    next.model.reset();
    next.reservation = {};
    return true;
}

// ---- Compile thread ----

bool RedIzuzir::compile() {
    enabled.latch(onOff->isOn() ? 1 : 0);
    prewarmMarkedSlots();
    scanSlots();
    installStaged();
    followSelection();
    updateKnobs();
    return false;
}

void RedIzuzir::prewarmMarkedSlots() {
    for (Slot& slot : slots) {
        if (!slot.needsPrewarm.load(std::memory_order_acquire)) continue;
        // The worker set the flag after its last touch of the model and stays out of it until it is cleared.
        if (slot.model) slot.model->Prewarm();
        const size_t index = size_t(&slot - slots.data());
        if (uint32_t count = 0; nonFiniteLog[index].due(count))
            LOGW(TAG, "%s[%zu]: the model's output went non-finite %u time(s) and was cleared\n",
                 list->getPath().c_str(), index, unsigned(count));
        slot.needsPrewarm.store(false, std::memory_order_release);
    }
}

void RedIzuzir::scanSlots() {
    for (int i = 0; i < kSlotCount; ++i) {
        if (list->versionAt(i) == seenVersion[size_t(i)]) continue;
        // Built now, while the old model keeps playing; only the swap waits for the fade.
        const NodeListElement element = list->elementAt(i);
        seenVersion[size_t(i)] = element.version;
        // A refused model leaves the slot's model playing on.
        Staged& next = staged[size_t(i)];
        next.ready = buildModel(i, *element.data, next) != Build::Refused;
    }
}

void RedIzuzir::installStaged() {
    const int playingSlot = selected.load(std::memory_order_relaxed);
    for (int i = 0; i < kSlotCount; ++i) {
        Staged& next = staged[size_t(i)];
        if (!next.ready) continue;
        // The slot being heard changes only while the output is faded out.
        if (i == playingSlot && !AudioProcessor::isSilentPass()) {
            AudioProcessor::requestFade();
            continue;
        }
        if (installModel(i, next)) {
            next.ready = false;
        } else if (i == playingSlot) {
            AudioProcessor::requestFade();
        }
    }
}

void RedIzuzir::followSelection() {
    const int wanted = selector->getIndex();
    const int current = selected.load(std::memory_order_relaxed);
    if (wanted == current) return;
    // From one model to another the worker crossfades their outputs: no fade of the whole output.
    if (isPlayable(current) && isPlayable(wanted)) {
        // The worker may still be inside the wanted slot, fading out of it; then the next pass tries again.
        if (!waitUntilPlayerLeaves(wanted)) return;
        Slot& slot = slots[size_t(wanted)];
        slot.model->Prewarm();
        slot.needsPrewarm.store(false, std::memory_order_release);
        selected.store(wanted, std::memory_order_release);
        return;
    }
    if (!AudioProcessor::isSilentPass()) {
        AudioProcessor::requestFade();
        return;
    }
    if (wanted >= 0 && wanted < kSlotCount) {
        Slot& slot = slots[size_t(wanted)];
        if (slot.loaded.load(std::memory_order_acquire) && slot.model) {
            // The worker plays only the selected slot, so it is inside this one only if it was selected a
            // moment ago and the worker is stalled: then the switch waits for another fade.
            if (!waitUntilPlayerLeaves(wanted)) {
                AudioProcessor::requestFade();
                return;
            }
            // The model starts from silence, not from whatever it last played.
            slot.model->Prewarm();
            slot.needsPrewarm.store(false, std::memory_order_release);
        }
    }
    selected.store(wanted, std::memory_order_release);
}

void RedIzuzir::updateKnobs() {
    driveGain.setTarget(decibelsToGain(gain->getValue()));
    const float wanted[3] = {toneKnobDb(low), toneKnobDb(mid), toneKnobDb(treble)};
    if (wanted[0] == toneDb[0] && wanted[1] == toneDb[1] && wanted[2] == toneDb[2]) return;
    // Each band keeps its section; a flat band is an identity section, so a flat tone stack is an exact pass
    // and a band crossing its centre glides through identity without moving the others' memories.
    BiquadCoefficients sections[3];
    if (wanted[0] != 0.0f) sections[0] = BiquadCoefficients::lowShelf(Frame::kSampleRate, kLowHz, 0.7071f, wanted[0]);
    if (wanted[1] != 0.0f) sections[1] = BiquadCoefficients::peaking(Frame::kSampleRate, kMidHz, kMidQ, wanted[1]);
    if (wanted[2] != 0.0f)
        sections[2] = BiquadCoefficients::highShelf(Frame::kSampleRate, kTrebleHz, 0.7071f, wanted[2]);
    // A refused hand-over leaves toneDb as it was, so the next pass tries again.
    if (!toneStack.setSections(sections, 3)) return;
    for (int band = 0; band < 3; ++band) toneDb[band] = wanted[band];
}

// ---- Audio thread ----

bool RedIzuzir::exec(void* block, float (*frame)[Frame::kSamples]) {
    RedIzuzir* player = self<RedIzuzir>(block);
    // The bypass first: a running player overwrites both channels anyway.
    if (player->copyLeftToRight) Frame::copy(frame[1], frame[0]);
    if (!player->enabledFade.begin(player->enabled.get() != 0, frame, 2)) {
        player->running = false;
        return false;
    }
    if (!player->running) {
        player->running = true;
        player->outputReady = false; // what the worker made before the bypass is stale
        player->restartPending = true;
    }
    if (player->handover.load(std::memory_order_acquire) != kIdle && !player->catchUp()) {
        Frame::clear(frame[0]);
        Frame::clear(frame[1]);
        player->enabledFade.end(frame);
        return false;
    }
    alignas(64) float result[Frame::kSamples];
    if (player->outputReady) {
        Frame::copy(result, player->output);
    } else {
        Frame::clear(result);
    }
    Frame::copy(player->input, frame[0]);
    player->enabledFade.scale(player->input);
    player->restart = player->restartPending;
    player->restartPending = false;
    player->handover.store(kPosted, std::memory_order_release);
    if (player->workerRunning.load(std::memory_order_relaxed)) player->wake.post();
    player->outputReady = true;
    Frame::copy(frame[0], result);
    Frame::copy(frame[1], result);
    player->enabledFade.end(frame);
    return false;
}

bool RedIzuzir::catchUp() {
    if (playerStep()) return true;
    const CodecInterface* codec = Codec::active();
    const uint64_t wait = codec && !codec->isPaced() ? kOfflineWaitNs : kLateWaitNs;
    const uint64_t start = xthal_get_ccount();
    while (handover.load(std::memory_order_acquire) != kIdle) {
        if (xthal_get_ccount() - start > wait) {
            Debug::count(givenUpCounter);
            return false;
        }
    }
    return true;
}

// ---- Worker ----

void RedIzuzir::playerThread(void* argument) {
    RedIzuzir* player = static_cast<RedIzuzir*>(argument);
    AudioProcessor::enableFlushToZero();
    for (;;) {
        player->wake.wait();
        if (player->stopping.load(std::memory_order_acquire)) break;
        player->playerStep();
    }
    // The last touch of the player: its destructor waits for this.
    player->workerRunning.store(false, std::memory_order_release);
}

bool RedIzuzir::isPlayerBusy() const { return handover.load(std::memory_order_acquire) != kIdle; }

bool RedIzuzir::playerStep() {
    if (!takeBlock()) return false;
    finishBlock();
    return true;
}

bool RedIzuzir::takeBlock() {
    int posted = kPosted;
    return handover.compare_exchange_strong(posted, kProcessing, std::memory_order_acquire);
}

void RedIzuzir::finishBlock() {
    processBlock();
    handover.store(kIdle, std::memory_order_release);
}

void RedIzuzir::processBlock() {
    alignas(64) float samples[Frame::kSamples];
    Frame::copy(samples, input);
    Frame::sanitize(samples);
    if (restart) {
        // Switched on again: the tone stack's memories belong to audio from before the bypass, and a crossfade
        // begun then would mix in a model that has not heard the guitar since.
        toneStack.reset();
        lastSlot = -1;
        crossfadeFramesLeft = 0;
        fadingFrom.store(-1, std::memory_order_seq_cst);
    }
    const int heardSlot = lastSlot;
    const int slotIndex = selected.load(std::memory_order_acquire);
    const bool valid = slotIndex >= 0 && slotIndex < kSlotCount;
    playing.store(valid ? slotIndex : -1, std::memory_order_seq_cst);
    if (!valid) {
        lastSlot = -1;
        Frame::copy(output, samples);
    } else {
        Slot& slot = slots[size_t(slotIndex)];
        if (slot.dirty.load(std::memory_order_seq_cst)) {
            // Its model is being replaced, under a fade: nothing to play for this block.
            lastSlot = -1;
            Frame::clear(output);
        } else if (slot.needsPrewarm.load(std::memory_order_acquire)) {
            // Its state went non-finite: silence until the compile thread has settled it again.
            lastSlot = -1;
            Frame::clear(output);
        } else if (slot.loaded.load(std::memory_order_acquire) && slot.model) {
            runModel(slot, slotIndex, samples, heardSlot);
        } else {
            lastSlot = -1;
            Frame::copy(output, samples);
        }
    }
    // A crossfade ends with any block that did not play a model.
    if (lastSlot < 0 && crossfadeFramesLeft > 0) {
        crossfadeFramesLeft = 0;
        fadingFrom.store(-1, std::memory_order_seq_cst);
    }
    playing.store(-1, std::memory_order_release);
}

void RedIzuzir::runModel(Slot& slot, int slotIndex, float* samples, int heardSlot) {
    // A knob change glides; a model that has just come in starts at its own level.
    if (slotIndex != lastSlot || slot.generation != lastGeneration) {
        lastSlot = slotIndex;
        lastGeneration = slot.generation;
        driveGain.jumpToTarget();
        if (heardSlot >= 0 && heardSlot != slotIndex) {
            // Another model played the block before: fade out of it, so the change puts no step into the
            // tone stack or anything after the player. The compile thread leaves it alone meanwhile.
            fadingFrom.store(heardSlot, std::memory_order_seq_cst);
            // The new model starts from a silent history: it first runs beside the old one for its receptive
            // field, so that its history holds the guitar and no onset echoes through its dilated layers.
            crossfadeFramesLeft =
                kCrossfadeFrames + (slot.model->GetReceptiveFieldSize() + Frame::kSamples - 1) / Frame::kSamples;
        }
    }
    const SmoothedValue::Ramp drive = driveGain.nextFrame();
    Frame::rampGain(samples, drive.from, drive.to);
    renderModel(slot, samples, output);
    if (crossfadeFramesLeft > 0) crossfadeStep(samples);
    toneStack.processCascade(output, Frame::kSamples);
}

void RedIzuzir::renderModel(Slot& slot, const float* samples, float* result) {
    alignas(64) float driven[Frame::kSamples];
    Frame::copy(driven, samples);
    Frame::gain(driven, slot.inputGain);
    slot.model->Process(driven, result, Frame::kSamples);
    // A non-finite sample would have come from the model's own state. Settling it again can take tens of
    // milliseconds (an LSTM), far beyond a frame, so the compile thread does it; this block plays cleared.
    if (Frame::sanitize(result) > 0) slot.needsPrewarm.store(true, std::memory_order_release);
    Frame::gain(result, slot.outputGain);
}

void RedIzuzir::crossfadeStep(const float* samples) {
    Slot& old = slots[size_t(fadingFrom.load(std::memory_order_relaxed))];
    // The old model is being replaced or went non-finite: its share ends here.
    if (!old.dirty.load(std::memory_order_seq_cst) && !old.needsPrewarm.load(std::memory_order_acquire) && old.model) {
        alignas(64) float fading[Frame::kSamples];
        renderModel(old, samples, fading);
        // The new model's share, 0 until the last kCrossfadeFrames, then an S-curve: a straight ramp would
        // bend at its ends, and the two models' difference would be heard as a kink there.
        auto share = [](int framesLeft) {
            const float s = Frame::larger(0.0f, 1.0f - float(framesLeft) / kCrossfadeFrames);
            return s * s * (3.0f - 2.0f * s);
        };
        const float from = share(crossfadeFramesLeft), to = share(crossfadeFramesLeft - 1);
        Frame::rampGain(output, from, to);
        Frame::rampMix(output, fading, 1.0f - from, 1.0f - to);
    }
    if (--crossfadeFramesLeft == 0) fadingFrom.store(-1, std::memory_order_seq_cst);
}
