#pragma once
// The real-time engine: the audio, control and compile threads around the block ring, the meters and the
// fade around structural changes.
//
// Audio pass (thread "audioLoop", priority 59, core 1): wait for the active codec's frame, copy it into the
// input copy (getInput), feed the input meters, walk the block ring, apply the fade, replace non-finite
// samples by 0, exchange the frame with the USB sound card bridge, feed the output meters, write the frame
// back to the codec.
//
// Compile pass (thread "compileLoop", priority 2, core 0, every 10 ms): update the meter nodes, then call
// compile() of every block in ring order, unless a preset load is in progress.
//
// Control pass (thread "controlLoop", priority 3, core 0, every 10 ms): the control task, which polls every
// controller source.
//
// Fade: a structural change (debounce, requestFade) fades the output by x0.7 per frame until the gain is
// below 1/700, holds it silent until a compile pass has run with isSilentPass() true (the only pass in which
// blocks take over structural values), then fades back in by x1/0.7 per frame to exactly 1. The gain moves
// linearly across each frame. A change requested during a fade is served by another fade after it.
// The output fade alone would not keep a switch out of the echoes: a delay or reverb that stays on records
// what reaches it during the fade, the step of an upstream block included, and plays it back after the fade
// has ended. So what enters such a line follows the fade too (lineFeed), with a gain that is exactly 0
// whenever the output is silent, and that leaves and regains 1 without a kink, so the gap it leaves in the
// echoes is a smooth dip. When no
// frame is processed (no codec, a stalled codec) the compile thread does not wait for silence: it runs the
// latching pass at once when no frame came in the last 50 ms, and in any case 50 ms after the request.
#include "audio/dsp/Frame.h"

class Node;

class AudioProcessor {
public:
    static constexpr int kOutput = 0;
    static constexpr int kInput = 1;

    enum class FadeState : int {
        Idle = 0,      // gain 1, the frame is left untouched
        FadingOut = 1, // x0.7 per frame
        Silent = 2,    // muted, waiting for the latching compile pass
        Compiled = 3,  // the latching pass ran; the next frame starts the fade in
        FadingIn = 4,  // x1/0.7 per frame up to exactly 1
    };

    // When at least one block is registered: creates the meter nodes, installs the preset node's load hooks
    // and the control task, runs the first compile pass (a latching one: nothing plays yet) and, when
    // startThreads is set, starts "audioLoop", "controlLoop" and "compileLoop". With no block it logs
    // "No audio block loaded" and does nothing. Runs once.
    static bool audioInitialize(bool startThreads);

    // On-change callback for structural parameters: asks for a fade around the next compile. Does nothing
    // when called from the compile thread (a block's compile() setting its own nodes).
    static void debounce(Node* node);
    // Asks for a fade from any thread, the compile thread included (a slot upload detected in compile()).
    static void requestFade();
    // True during a compile pass that runs while the output is silent. Compile thread.
    static bool isSilentPass();
    // A preset load in progress keeps every compile pass out; loads nest, each begin needs its end.
    // audioInitialize installs these as the preset node's load hooks.
    static void beginPresetLoad();
    static void endPresetLoad();
    static bool isPresetLoading();

    // Audio thread, inside the walk of the ring: the gain, per sample of this frame, of what enters a running
    // delay or reverb line (see the fade above); 1 while no fade runs and outside processFrame.
    static const float* lineFeed();

    // The raw codec input of the current frame, copied before the chain runs.
    static float (*getInput())[Frame::kSamples];

    // Peak level in dB of channel 0 or 1 at the input (kInput) or the output (kOutput), clamped to
    // -110..0; 0 for bad arguments. The level falls by 20 dB per second after a peak.
    static float meter(int channel, int direction);
    // True while that channel's clip-hold counter is positive: a sample reached full scale in the last
    // second. False for bad arguments.
    static bool channelSaturation(int channel, int direction);
    // True while any input or output clip-hold counter is positive.
    static bool saturation();

    // Step functions: what one pass of each thread does; the threads call them and so do tests.
    // One audio pass with the active codec: false when there is no codec or no frame came.
    static bool audioStep();
    // The engine's work on one frame, in place (everything of the audio pass but the codec).
    static void processFrame(float (*frame)[Frame::kSamples]);
    // One compile pass.
    static void compileStep();
    // One pass of the control thread's work, called every 10 ms: the controller sources' poll once
    // audioInitialize has run, nothing before.
    static void controlStep();

    static FadeState getFadeState();
    // The gain applied to the last sample of the last frame.
    static float getFadeGain();
    // Flushes subnormal results and inputs to zero on the calling thread; the audio thread sets it first.
    static void enableFlushToZero();

private:
    static void audioLoop(void*);
    static void compileLoop(void*);
    static void controlLoop(void*);
    static void createMeterNodes();
    static void updateMeterNodes();
    static void runCompilePass(bool latching);
    static void planFade();
    static void applyFade(float (*frame)[Frame::kSamples]);
    static void feedMeters(int direction, float (*frame)[Frame::kSamples]);
};
