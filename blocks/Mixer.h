#pragma once
// The output mixer: the processed frame and the aux frame (the raw input, where input 2 is channel 1) mixed
// into the two outputs with eight gains, each gliding to a new value (SmoothedValue) so that neither a knob
// sweep zippers nor a preset that changes only the level clicks. It creates no node.
//
// Gain arrangement of setMixerValue (source -> output):
//   g0 processed L -> L, g1 processed R -> R, g2 processed R -> L, g3 processed L -> R,
//   g4 aux L -> L,       g5 aux R -> L,       g6 aux L -> R,       g7 aux R -> R.
// So (main, main, 0, 0, 0, aux, 0, aux) plays the chain at `main` and input 2 at `aux` on both outputs.
#include "audio/AudioBlock.h"
#include "audio/dsp/Frame.h"
#include "audio/dsp/SmoothedValue.h"

class Node;

class Mixer : public AudioBlock {
public:
    static constexpr int kGains = 8;

    // aux may be null: then only the processed frame is mixed. Starts as a plain pass of the processed frame.
    Mixer(Node* folder, float (*aux)[Frame::kSamples]);

    // Any thread; the audio side glides to the new gains. Non-finite gains are refused.
    void setMixerValue(float g0, float g1, float g2, float g3, float g4, float g5, float g6, float g7);

    static bool exec(void* block, float (*frame)[Frame::kSamples]);

private:
    float (*const aux)[Frame::kSamples];
    SmoothedValue gains[kGains];
};
