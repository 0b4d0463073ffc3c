#pragma once
// The USB sound card bridge: the device is a 2-channel 48 kHz sound card toward a USB host. The processed
// output goes to the host (what the host records) at the record level; what the host plays is mixed into
// the outputs at the playback level.
//
// Threads: "AudioUSB" reads the device controller's state file every 2 s; a host that has configured the
// device opens the streams, anything else (a missing file included) closes them. "AudioUSB bridge" does the
// ALSA transfers of the gadget's capture and playback devices, 64 samples at a time, held to the frame
// clock when the devices do not block; streams that fail are reported once and reopened after growing
// waits. The audio thread only touches two lock-free frame rings (exchange); the drift between the host's
// clock and the codec's is absorbed on the consuming side of each ring by resampling with a ratio that keeps
// the ring's fill at its target. Each side's audio ramps in over 2 ms when its stream starts and out when
// it stops or its ring runs low, so the computer's sound never starts or ends with a click.
//
// Configuration: the state file path and the ALSA device names default to the gadget's and can be set
// before initialize(), or through the environment (PEDAL_USB_STATE, PEDAL_USB_CAPTURE, PEDAL_USB_PLAYBACK).
#include <cstdint>
#include <string>

#include "audio/dsp/Frame.h"

class Node;
class NodeFloat;

class AudioUSB {
public:
    static constexpr const char* kDefaultStatePath = "/sys/class/udc/fe980000.usb/state";
    static constexpr const char* kDefaultDevice = "hw:UAC2Gadget";
    // Samples per ALSA transfer of the bridge (four frames).
    static constexpr int kPeriodSamples = 64;
    // Samples each ring holds on average: three transfers (4 ms), the latency the drift correction keeps.
    static constexpr int kTargetQueueSamples = 3 * kPeriodSamples;

    // Creates the "usb" settings folder under the root (stored record and playback levels) and starts the
    // state and bridge threads. Runs once.
    static bool initialize();
    static void setStatePath(const std::string& path);
    // ALSA names of the gadget's capture device (the host's playback) and playback device (to the host).
    static void setDevices(const std::string& capture, const std::string& playback);

    // One look at the state file: true when a host has configured the device. The state thread's step.
    static bool stateStep();
    static bool isHostConnected();
    // True while the bridge's streams are open.
    static bool isStreaming();

    // Audio thread: hands the processed frame to the host and mixes the host's frame into it. Nothing while
    // no stream is open, once the host's audio has ramped out.
    static void exchange(float (*frame)[Frame::kSamples]);

    // One pass of the bridge thread: opens or closes the streams after the host's state, then moves one
    // transfer. Returns the microseconds to wait before the next pass: 0 after a transfer while the devices
    // pace the bridge, the time to the next period when they run ahead of the clock.
    static uint32_t bridgeStep();

    // The bridge's work around its ALSA transfers. beginStreaming follows the opening of the streams
    // and endStreaming precedes their closing; hostPeriod moves one transfer: `captured` (from the host)
    // into the ring toward the audio thread, and the next frames toward the host into `toPlay`. Both are
    // interleaved stereo of `samples` samples, a multiple of 16 up to kPeriodSamples.
    static void beginStreaming();
    static void endStreaming();
    static void hostPeriod(const float* captured, float* toPlay, int samples);

    // The settings, null before initialize().
    static Node* getFolder();
    static NodeFloat* getRecordLevel();
    static NodeFloat* getPlaybackLevel();
    // Frames dropped because a ring was full (a side that stalled), and the restarts of a ring's stream after
    // it ran dry or overfilled.
    static int getOverruns();
    static int getRestarts();
    // Samples waiting in a ring for its consumer (exact on the consumer's thread).
    static int getQueuedSamples(bool towardHost);

private:
    static void levelChanged(Node* node);
    static void stateLoop(void*);
    static void bridgeLoop(void*);
    static bool openStreams(bool logFailure);
    static void closeStreams();
};
