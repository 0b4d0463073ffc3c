#pragma once
// Base of every effect block. A block has two halves: compile() on the compile thread turns the block's
// parameter nodes into coefficients; the static process function registered in the block ring runs on the
// audio thread, reads only those coefficients and the block's state, and allocates, locks and logs nothing.
//
// The ring holds at most 32 blocks. A block registers at the front or at the back when it is constructed, so
// the construction order of the product decides the processing order. The audio thread walks the ring from
// its start to its end; a process function that returns true ends the walk for that frame (the frame goes
// on to the output as it is) and every block after it is told it missed the frame. The compile thread calls
// compile() in the same order; a true result ends that pass.
#include <cstddef>
#include <new>

#include "audio/dsp/Frame.h"

class Node;

class AudioBlock {
public:
    static constexpr int kRingSize = 32;
    static constexpr int kFront = 1;
    static constexpr int kBack = 0;
    // Storage alignment of every block: a cache line, enough for any vector register of the target.
    static constexpr std::size_t kAlignment = 64;

    // The process function: the registered block (as passed to the constructor, see self()) and the frame
    // float[2][16], processed in place. True ends the walk for this frame.
    using Exec = bool (*)(void* block, float (*frame)[Frame::kSamples]);

    // Stores name and folder; when exec is not null registers (this, exec) at the front (kFront) or the
    // back (kBack, or any other value) of the ring. Ignored, with an error line, when the ring is full.
    AudioBlock(const char* name, Node* folder, Exec exec, int position);
    // A block leaves the ring when it is destroyed. Product blocks live for the whole run; this keeps a
    // short-lived block (a test's) from leaving a dangling entry. Not for use while the audio thread runs.
    virtual ~AudioBlock();
    AudioBlock(const AudioBlock&) = delete;
    AudioBlock& operator=(const AudioBlock&) = delete;

    // Runs on the compile thread every pass. A structural value (an on/off switch, a slot selection, new
    // coefficients that cannot be crossfaded) is taken over only when AudioProcessor::isSilentPass() is
    // true; otherwise the block keeps the old one and asks for a fade with AudioProcessor::requestFade().
    // True ends the compile pass.
    virtual bool compile() { return false; }
    // Audio thread: an earlier block ended the walk of this frame (the tuner mutes the frame while it
    // listens), so this block's state no longer follows the signal. A block with state (a delay line, a
    // reverb tail) starts afresh, from cleared state and faded in, the next time it runs, so no stale tail
    // comes back.
    virtual void missedFrame() {}

    const char* getName() const { return name; }
    // The process function registered for this block (null for none).
    Exec getExec() const { return exec; }
    Node* getFolder() const { return folder; }
    bool isRegistered() const;

    // The block behind the process function's first argument.
    template <class Block>
    static Block* self(void* block) {
        return static_cast<Block*>(static_cast<AudioBlock*>(block));
    }

    // Blocks hold vector state and coefficients: their storage is aligned to kAlignment (or more when the
    // class asks for more).
    static void* operator new(std::size_t size);
    static void* operator new(std::size_t size, std::align_val_t alignment);
    static void operator delete(void* block) noexcept;
    static void operator delete(void* block, std::align_val_t alignment) noexcept;

    // The ring as it stands, start to end (for the engine and for inspection).
    static int ringCount();
    // Null out of range.
    static AudioBlock* ringAt(int index);
    // Walks the ring over one frame; true when a block ended the walk. Audio thread only.
    static bool runRing(float (*frame)[Frame::kSamples]);
    // Calls compile() in ring order until one returns true; true when one did. Compile thread only.
    static bool compileRing();

private:
    const char* const name;
    Node* const folder;
    const Exec exec;
};
