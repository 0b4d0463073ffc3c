#pragma once
// The list of codec interfaces and the active one.
//
// Codec::initialize creates the platform's PCM interface and puts it first in the list: CM4_I2S on the
// device; on the host a stand-in chosen by the environment variable PEDAL_CODEC ("file", the default, a WAV
// file codec; "alsa", a real sound card; "none", no PCM interface). The first interface of the list that
// initialises becomes the active codec and is started; the audio thread picks it up on its next pass.
class CodecInterface;

class Codec {
public:
    // Appends an interface to the list (null is ignored).
    static void add(CodecInterface* codec);
    // Creates the platform's interface, then activates the first interface that initialises. Runs once;
    // true when a codec is active.
    static bool initialize();
    // The active codec, null before initialize() or when no interface answered.
    static CodecInterface* active();
    static int count();
    // Null out of range.
    static CodecInterface* at(int index);

private:
    static CodecInterface* createPlatformCodec();
};
