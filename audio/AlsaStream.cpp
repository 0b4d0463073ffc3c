#include "audio/AlsaStream.h"

#include <alsa/asoundlib.h>
#include <cmath>

#include "porting/Log.h"

namespace {

// A stream that delivers nothing for this long has stopped (a USB host that paused, an unplugged card).
const int kWaitMs = 200;

}

int32_t AlsaStream::toWide(float sample) {
    float scaled = sample * 2147483648.0f;
    if (!(scaled == scaled)) return 0;
    if (scaled >= 2147483648.0f) return INT32_MAX;
    if (scaled <= -2147483648.0f) return INT32_MIN;
    return int32_t(scaled);
}

int16_t AlsaStream::toNarrow(float sample) {
    float scaled = std::nearbyint(sample * 32768.0f);
    if (!(scaled == scaled)) return 0;
    if (scaled >= 32767.0f) return INT16_MAX;
    if (scaled <= -32768.0f) return INT16_MIN;
    return int16_t(scaled);
}

bool AlsaStream::open(const std::string& device, bool capture, unsigned latencyUs, const char* tag) {
    close();
    // A null tag opens quietly: a retry whose failure was already reported.
    const bool quiet = tag == nullptr;
    this->capture = capture;
    xruns = 0;
    failure = "";
    const char* direction = capture ? "capture" : "playback";
    // Non-blocking, so a busy device fails at once and a stream that stops delivering cannot hang the caller:
    // transfers sleep in snd_pcm_wait with a timeout instead.
    int error = snd_pcm_open(&pcm, device.c_str(), capture ? SND_PCM_STREAM_CAPTURE : SND_PCM_STREAM_PLAYBACK,
                             SND_PCM_NONBLOCK);
    if (error < 0) {
        pcm = nullptr;
        if (!quiet) LOGE(tag, "Cannot open %s device %s: %s\n", direction, device.c_str(), snd_strerror(error));
        return false;
    }
    wide = true;
    error = snd_pcm_set_params(pcm, SND_PCM_FORMAT_S32_LE, SND_PCM_ACCESS_RW_INTERLEAVED, 2, 48000, 1, latencyUs);
    if (error < 0) {
        wide = false;
        error = snd_pcm_set_params(pcm, SND_PCM_FORMAT_S16_LE, SND_PCM_ACCESS_RW_INTERLEAVED, 2, 48000, 1, latencyUs);
    }
    if (error < 0) {
        if (!quiet)
            LOGE(tag, "%s device %s refuses 2 channels at 48000 Hz: %s\n", direction, device.c_str(),
                 snd_strerror(error));
        close();
        return false;
    }
    if (!quiet) LOGI(tag, "Opened %s device %s (%d bit)\n", direction, device.c_str(), wide ? 32 : 16);
    return true;
}

void AlsaStream::close() {
    if (!pcm) return;
    snd_pcm_close(pcm);
    pcm = nullptr;
}

bool AlsaStream::start() {
    if (!pcm) return false;
    if (!capture) return true;
    int error = snd_pcm_start(pcm);
    return error >= 0 || recover(error);
}

bool AlsaStream::recover(long error) {
    ++xruns;
    int result = snd_pcm_recover(pcm, int(error), 1);
    if (result < 0) {
        failure = snd_strerror(result);
        return false;
    }
    return true;
}

void* AlsaStream::samplesAt(int frame) {
    return wide ? static_cast<void*>(wideSamples + frame * 2) : static_cast<void*>(narrowSamples + frame * 2);
}

bool AlsaStream::transfer(int frames) {
    // The device cannot keep up in either direction for long: a capture that brings nothing and a playback
    // that takes nothing are the same stall, told apart in the report.
    static constexpr const char* kStalled[] = {"no room for 200 ms", "no data for 200 ms"};
    int done = 0;
    while (done < frames) {
        const auto remaining = snd_pcm_uframes_t(frames - done);
        const snd_pcm_sframes_t moved =
            capture ? snd_pcm_readi(pcm, samplesAt(done), remaining) : snd_pcm_writei(pcm, samplesAt(done), remaining);
        if (moved == -EAGAIN) {
            const int ready = snd_pcm_wait(pcm, kWaitMs);
            if (ready == 0) {
                failure = kStalled[capture];
                return false;
            }
            if (ready < 0 && !recover(ready)) return false;
            continue;
        }
        if (moved < 0) {
            if (!recover(moved)) return false;
            continue;
        }
        done += int(moved);
    }
    return true;
}

bool AlsaStream::read(float* interleaved, int frames) {
    if (!pcm || !capture || frames < 0 || frames > kMaxFrames) return false;
    if (!transfer(frames)) return false;
    for (int i = 0; i < frames * 2; ++i) {
        interleaved[i] =
            wide ? float(wideSamples[i]) * (1.0f / 2147483648.0f) : float(narrowSamples[i]) * (1.0f / 32768.0f);
    }
    return true;
}

bool AlsaStream::write(const float* interleaved, int frames) {
    if (!pcm || capture || frames < 0 || frames > kMaxFrames) return false;
    for (int i = 0; i < frames * 2; ++i) {
        if (wide) wideSamples[i] = toWide(interleaved[i]);
        else narrowSamples[i] = toNarrow(interleaved[i]);
    }
    return transfer(frames);
}
