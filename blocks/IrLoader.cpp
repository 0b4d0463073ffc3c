#include "blocks/IrLoader.h"

#include <cmath>
#include <cstring>

#include <sndfile.h>

#include "audio/AudioProcessor.h"
#include "blocks/BlockNodes.h"
#include "audio/dsp/Frame.h"
#include "audio/dsp/ImpulseResponse.h"
#include "porting/Log.h"
#include "core/NodeFloat.h"
#include "core/NodeList.h"
#include "core/NodeOnOff.h"
#include "core/NodeParList.h"

namespace {

const char* const TAG = "IrLoader";

// A read-only file in memory for libsndfile's virtual I/O.
struct MemoryFile {
    const uint8_t* data;
    sf_count_t size;
    sf_count_t position;
};

sf_count_t memoryLength(void* user) { return static_cast<MemoryFile*>(user)->size; }

sf_count_t memorySeek(sf_count_t offset, int whence, void* user) {
    MemoryFile* file = static_cast<MemoryFile*>(user);
    sf_count_t base = whence == SEEK_CUR ? file->position : (whence == SEEK_END ? file->size : 0);
    sf_count_t target = base + offset;
    file->position = target < 0 ? 0 : (target > file->size ? file->size : target);
    return file->position;
}

sf_count_t memoryRead(void* destination, sf_count_t count, void* user) {
    MemoryFile* file = static_cast<MemoryFile*>(user);
    sf_count_t available = file->size - file->position;
    if (count > available) count = available;
    if (count <= 0) return 0;
    std::memcpy(destination, file->data + file->position, size_t(count));
    file->position += count;
    return count;
}

sf_count_t memoryWrite(const void*, sf_count_t, void*) { return 0; }

sf_count_t memoryTell(void* user) { return static_cast<MemoryFile*>(user)->position; }

uint32_t littleEndian32(const uint8_t* bytes) {
    return uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 | uint32_t(bytes[3]) << 24;
}

// Walks the RIFF chunks to the data chunk: false when the file ends before the data its header announces.
// A length of 0xFFFFFFFF is a streaming writer's "unknown" and is let through.
bool dataChunkComplete(const std::vector<uint8_t>& wav, std::string& error) {
    if (wav.size() < 12 || std::memcmp(wav.data(), "RIFF", 4) != 0 || std::memcmp(wav.data() + 8, "WAVE", 4) != 0) {
        error = "not a RIFF WAVE file";
        return false;
    }
    size_t position = 12;
    while (position + 8 <= wav.size()) {
        const uint32_t length = littleEndian32(wav.data() + position + 4);
        const size_t available = wav.size() - position - 8;
        if (std::memcmp(wav.data() + position, "data", 4) == 0) {
            if (length != 0xFFFFFFFFu && length > available) {
                error = "truncated: " + std::to_string(available) + " of " + std::to_string(length) + " data bytes";
                return false;
            }
            return true;
        }
        if (length > available) break;
        position += 8 + size_t(length) + (length & 1); // chunks are padded to even lengths
    }
    error = "no data chunk";
    return false;
}

bool playableEncoding(int format) {
    const int major = format & SF_FORMAT_TYPEMASK;
    const int subtype = format & SF_FORMAT_SUBMASK;
    return (major == SF_FORMAT_WAV || major == SF_FORMAT_WAVEX) &&
           (subtype == SF_FORMAT_PCM_16 || subtype == SF_FORMAT_PCM_24 || subtype == SF_FORMAT_PCM_32 ||
            subtype == SF_FORMAT_FLOAT);
}

}

IrLoader::IrLoader(Node* folder, Node* root, const char* listKey) : AudioBlock("IrLoader", folder, exec, kBack) {
    onOff = BlockNodes::onOff(folder);
    list = new NodeList(root, listKey, "Cabinet IRs", kItemType, kSlotSize, kSlotCount, kChunkSize, true);
    list->setValidator(check);
    selector = new NodeParList(folder, "ir", "Cabinet", "", list);
    selector->setOnChange(AudioProcessor::debounce);
    level = BlockNodes::parameter(folder, "level", "Level", -20.0f, 20.0f, 0.0f, "dB", 1);
    for (QuadFIR& convolution : convolutions) convolution.configure(kTaps, 2);
}

bool IrLoader::prepare(const std::vector<uint8_t>& wav, std::vector<std::vector<float>>& responses,
                       std::string& error) {
    SF_VIRTUAL_IO io = {memoryLength, memorySeek, memoryRead, memoryWrite, memoryTell};
    MemoryFile file = {wav.data(), sf_count_t(wav.size()), 0};
    SF_INFO info = {};
    SNDFILE* sound = sf_open_virtual(&io, SFM_READ, &info, &file);
    if (!sound) {
        error = std::string("not a sound file: ") + sf_strerror(nullptr);
        return false;
    }
    bool playable = false;
    if (!playableEncoding(info.format)) {
        error = "not a 16/24/32-bit PCM or float WAV file";
    } else if (info.samplerate != 48000) {
        error = std::to_string(info.samplerate) + " Hz, only 48000 Hz is played";
    } else if (info.channels < 1 || info.channels > 2) {
        error = std::to_string(info.channels) + " channels, only mono and stereo are played";
    } else {
        playable = true;
    }
    // One frame more than is kept tells the truncation that something was cut, so it fades the end.
    const sf_count_t wanted = info.frames < kTaps + 1 ? info.frames : kTaps + 1;
    std::vector<float> interleaved(playable ? size_t(wanted) * size_t(info.channels) : 0);
    const sf_count_t frames = playable ? sf_readf_float(sound, interleaved.data(), wanted) : 0;
    sf_close(sound);
    if (!playable) return false;
    if (frames <= 0) {
        error = "no samples";
        return false;
    }

    const int channels = info.channels;
    std::vector<float> joined; // the channels one after the other, for one common normalisation
    responses.assign(size_t(channels), {});
    for (int channel = 0; channel < channels; ++channel) {
        std::vector<float>& response = responses[size_t(channel)];
        response.resize(size_t(frames));
        for (sf_count_t i = 0; i < frames; ++i) response[size_t(i)] = interleaved[size_t(i * channels + channel)];
        ImpulseResponse::truncate(response, kTaps, kFadeTaps);
        joined.insert(joined.end(), response.begin(), response.end());
    }
    if (!ImpulseResponse::normalise(joined)) {
        error = "silent or not finite";
        return false;
    }
    // Unit energy per channel on average.
    const float perChannel = std::sqrt(float(channels));
    size_t offset = 0;
    for (std::vector<float>& response : responses) {
        for (float& tap : response) tap = joined[offset++] * perChannel;
    }
    return true;
}

bool IrLoader::check(const std::vector<uint8_t>& wav, std::string& error) {
    std::vector<std::vector<float>> responses;
    return dataChunkComplete(wav, error) && prepare(wav, responses, error);
}

void IrLoader::readSelection() {
    const int index = selector->getIndex();
    const uint32_t version = index >= 0 ? list->versionAt(index) : 0;
    if (index == seenIndex && version == seenVersion) return;
    seenIndex = index;
    seenVersion = version;
    if (index < 0) {
        prepared.assign(1, std::vector<float>{1.0f}); // nothing selected: a plain pass
        swapWanted = true;
        return;
    }
    std::vector<std::vector<float>> responses;
    std::string error;
    const auto data = list->dataAt(index);
    if (!prepare(*data, responses, error)) {
        LOGE(TAG, "Slot %d (%s) refused: %s\n", index, list->nameAt(index).c_str(), error.c_str());
        return;
    }
    prepared = std::move(responses);
    swapWanted = true;
}

void IrLoader::swapResponses() {
    // The audio side still crossfades to the last response: the next pass tries again.
    if (changing.load(std::memory_order_acquire)) return;
    const float* taps[2] = {prepared[0].data(), prepared.back().data()};
    QuadFIR& spare = convolutions[1 - playingIndex];
    if (!spare.setImpulseResponses(taps, int(prepared.size()), int(prepared[0].size()))) return;
    swapWanted = false;
    changing.store(true, std::memory_order_release);
}

bool IrLoader::compile() {
    enabled.latch(onOff->isOn() ? 1 : 0);
    readSelection();
    if (swapWanted) swapResponses();
    levelGain.setTarget(std::pow(10.0f, level->getValue() / 20.0f));
    return false;
}

bool IrLoader::exec(void* block, float (*frame)[Frame::kSamples]) {
    IrLoader* loader = self<IrLoader>(block);
    if (!loader->enabledFade.begin(loader->enabled.get() != 0, frame, 2)) {
        loader->running = false;
        // Nothing of the cabinet is heard: a new response takes over at once.
        if (loader->changing.load(std::memory_order_acquire)) loader->takeIncoming();
        return false;
    }
    if (!loader->running) {
        loader->running = true;
        if (loader->changing.load(std::memory_order_acquire)) loader->takeIncoming();
        loader->convolutions[loader->playingIndex].reset();
        loader->levelGain.jumpToTarget();
    }
    for (float* lane : {frame[0], frame[1]}) loader->enabledFade.scale(lane);
    float* lanes[2] = {frame[0], frame[1]};
    if (loader->changeFrame >= 0 || loader->changing.load(std::memory_order_acquire)) {
        loader->processChange(frame);
    } else {
        loader->convolutions[loader->playingIndex].process(lanes, 2);
    }
    const SmoothedValue::Ramp levelRamp = loader->levelGain.nextFrame();
    for (float* lane : lanes) Frame::rampGain(lane, levelRamp.from, levelRamp.to);
    loader->enabledFade.end(frame);
    return false;
}

void IrLoader::processChange(float (*frame)[Frame::kSamples]) {
    QuadFIR& incoming = convolutions[1 - playingIndex];
    if (changeFrame < 0) {
        changeFrame = 0;
        incoming.reset();
        changeFade.jump(false);
    }
    alignas(64) float next[2][Frame::kSamples];
    Frame::copy(next[0], frame[0]);
    Frame::copy(next[1], frame[1]);
    float* nextLanes[2] = {next[0], next[1]};
    float* lanes[2] = {frame[0], frame[1]};
    incoming.process(nextLanes, 2);
    convolutions[playingIndex].process(lanes, 2);
    if (++changeFrame <= kWarmFrames) return;
    // The old convolution's output is the crossfade's bypass, the new one's its effect.
    changeFade.begin(true, frame, 2);
    Frame::copy(frame[0], next[0]);
    Frame::copy(frame[1], next[1]);
    changeFade.end(frame);
    if (changeFrame == kChangeFrames) takeIncoming();
}

void IrLoader::takeIncoming() {
    playingIndex = 1 - playingIndex;
    changeFrame = -1;
    changing.store(false, std::memory_order_release);
}
