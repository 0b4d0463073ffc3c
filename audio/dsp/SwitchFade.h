#pragma once
// The crossfade of a switchable section of a block (a whole block behind its Enable switch, or a part of one
// such as a tremolo) between its bypass and its effect. A switch is taken over while the output is faded out,
// but the signal keeps flowing through the chain under that fade: a section that jumped from its bypass to its
// effect would put a step into every line, model and convolution after it, and they would replay it once the
// output is back. So the section glides from one to the other over kFrames frames (a raised cosine), and runs
// its effect until the glide out has ended. After that, one frame passes with the effect stopped before it
// may glide in again, so a block always starts its effect from cleared state.
//
// Audio side only: begin() before the section's processing, end() after it, once per frame.
#include "audio/dsp/Frame.h"

class SwitchFade {
public:
    static constexpr int kFrames = 60; // 20 ms

    // Follows the latched switch by one frame; while the glide moves, keeps the frame as it enters (the bypass)
    // for end(). True when the effect runs in this frame: on, or still gliding out.
    bool begin(bool on, const float (*frame)[Frame::kSamples], int channels);
    // The glide of this frame applied to what enters an effect whose memory starts empty (a model, a
    // convolution), so its first input is no step from silence either. Nothing once the glide has ended.
    void scale(float* samples) const;
    // Mixes the kept bypass back in while the glide moves; nothing otherwise.
    void end(float (*frame)[Frame::kSamples]) const;
    // Ends the glide at once, on or off (for a section that starts where nothing of it is heard).
    void jump(bool on) {
        position = on ? kFrames : 0;
        ran = on;
    }

private:
    // The glide's gain at sample 0 .. 15 of this frame.
    float gainAt(int sample) const;

    alignas(64) float bypass[Frame::kChannels][Frame::kSamples];
    int position = 0; // frames into the glide in, 0 .. kFrames
    int bypassChannels = 0;
    bool ran = false;  // the effect ran in the last frame
    int startStep = 0; // the glide's sample at the start of this frame
    int direction = 0; // +1 gliding in, -1 out
};
