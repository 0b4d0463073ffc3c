#pragma once
// One ALSA PCM stream, capture or playback, 2 channels at 48 kHz, read and written as interleaved float.
// The device's own sample format is 32-bit when it takes it, else 16-bit. Transfers sleep until the device
// is ready, recover from over- and underruns by themselves, and give up when the device stays silent.
#include <cstdint>
#include <string>

typedef struct _snd_pcm snd_pcm_t;

class AlsaStream {
public:
    static constexpr int kMaxFrames = 1024;

    AlsaStream() = default;
    ~AlsaStream() { close(); }
    AlsaStream(const AlsaStream&) = delete;
    AlsaStream& operator=(const AlsaStream&) = delete;

    // Opens the device with about latencyUs of device buffer; false with one log line under tag. A null tag
    // opens quietly, success included (a retry).
    bool open(const std::string& device, bool capture, unsigned latencyUs, const char* tag);
    void close();
    bool isOpen() const { return pcm != nullptr; }
    // Transfers exactly frames (at most kMaxFrames) interleaved stereo frames, read on a capture stream and
    // written on a playback one; false when the stream failed and could not be recovered, or moved nothing
    // for 200 ms: the caller reports it (getFailure() says why).
    bool read(float* interleaved, int frames);
    bool write(const float* interleaved, int frames);
    // Starts a capture stream at once (a playback stream starts when its buffer has data).
    bool start();
    int getXruns() const { return xruns; }
    const char* getFailure() const { return failure; }

    // A float sample to the device's 32- or 16-bit sample, saturated at full scale (NaN gives 0).
    static int32_t toWide(float sample);
    static int16_t toNarrow(float sample);

private:
    bool recover(long error);
    // Moves frames between the device and its sample buffer in the stream's direction, waiting while the
    // device is not ready; false with the failure set.
    bool transfer(int frames);
    // The device-format buffer from the given stereo frame on.
    void* samplesAt(int frame);

    snd_pcm_t* pcm = nullptr;
    bool capture = false;
    bool wide = true; // 32-bit samples; 16-bit otherwise
    int xruns = 0;
    const char* failure = "";
    int32_t wideSamples[kMaxFrames * 2] = {};
    int16_t narrowSamples[kMaxFrames * 2] = {};
};
