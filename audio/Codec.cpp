#include "audio/Codec.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>

#include "audio/CodecInterface.h"
#include "porting/Log.h"

#ifdef PEDAL_HOST
#include "audio/AlsaCodec.h"
#include "audio/FileCodec.h"
#else
#include "audio/CM4_I2S.h"
#endif

namespace {

const char* const TAG = "Codec";
const int kMaxCodecs = 8;

// Filled at start-up before the audio thread looks at it; plain storage that outlives every thread.
CodecInterface* codecs[kMaxCodecs] = {};
std::atomic<int> codecCount{0};
std::atomic<CodecInterface*> activeCodec{nullptr};
std::atomic<bool> initialized{false};

void insertFirst(CodecInterface* codec) {
    int count = codecCount.load(std::memory_order_acquire);
    if (count >= kMaxCodecs) {
        LOGE(TAG, "Codec list full, %s left out\n", codec->getName());
        return;
    }
    for (int i = count; i > 0; --i) codecs[i] = codecs[i - 1];
    codecs[0] = codec;
    codecCount.store(count + 1, std::memory_order_release);
}

#ifdef PEDAL_HOST
std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}
#endif

}

void Codec::add(CodecInterface* codec) {
    if (!codec) return;
    int count = codecCount.load(std::memory_order_acquire);
    if (count >= kMaxCodecs) {
        LOGE(TAG, "Codec list full, %s left out\n", codec->getName());
        return;
    }
    codecs[count] = codec;
    codecCount.store(count + 1, std::memory_order_release);
}

CodecInterface* Codec::createPlatformCodec() {
#ifdef PEDAL_HOST
    std::string kind = environment("PEDAL_CODEC");
    if (kind.empty() || kind == "file") {
        return new FileCodec(environment("PEDAL_CODEC_IN"), environment("PEDAL_CODEC_OUT"),
                             environment("PEDAL_CODEC_OFFLINE") != "1");
    }
    if (kind == "alsa") {
        std::string device = environment("PEDAL_ALSA_DEVICE");
        return new AlsaCodec(device.empty() ? "default" : device);
    }
    if (kind != "none") LOGE(TAG, "PEDAL_CODEC=%s is none of file, alsa, none\n", kind.c_str());
    return nullptr;
#else
    return new CM4_I2S();
#endif
}

bool Codec::initialize() {
    if (initialized.exchange(true)) return activeCodec.load() != nullptr;
    if (CodecInterface* platform = createPlatformCodec()) insertFirst(platform);
    int count = codecCount.load(std::memory_order_acquire);
    for (int i = 0; i < count; ++i) {
        CodecInterface* codec = codecs[i];
        if (!codec->initialize()) continue;
        if (!codec->start()) {
            LOGE(TAG, "%s did not start\n", codec->getName());
            continue;
        }
        activeCodec.store(codec, std::memory_order_release);
        LOGI(TAG, "Active codec: %s\n", codec->getName());
        return true;
    }
    LOGW(TAG, "No codec found, no audio\n");
    return false;
}

CodecInterface* Codec::active() { return activeCodec.load(std::memory_order_acquire); }

int Codec::count() { return codecCount.load(std::memory_order_acquire); }

CodecInterface* Codec::at(int index) {
    if (index < 0 || index >= count()) return nullptr;
    return codecs[index];
}
