// The WAV file codec through the engine: bit-exact round trips, refused inputs, silence without input, and
// the real threads streaming a file in real time.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <sndfile.h>
#include <string>
#include <thread>
#include <vector>

#include "audio/AudioBlock.h"
#include "audio/AudioProcessor.h"
#include "audio/Codec.h"
#include "audio/FileCodec.h"
#include "tests/audio/dsp/Reference.h"
#include "tests/support/TestSupport.h"

namespace {

namespace fs = std::filesystem;

// A folder of its own, removed at the end.
struct TempFolder {
    const std::string path = testsupport::temporaryFolder("pedal-codec");
    ~TempFolder() { fs::remove_all(path); }
    std::string file(const char* name) const { return path + "/" + name; }
};

// Interleaved samples, written through libsndfile in the given sample format.
void writeWav(const std::string& path, const std::vector<float>& interleaved, int channels, int rate, int format) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = SF_FORMAT_WAV | format;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
    sf_writef_float(file, interleaved.data(), sf_count_t(interleaved.size() / size_t(channels)));
    sf_close(file);
}

struct Wav {
    int channels = 0;
    int rate = 0;
    std::vector<float> samples;
};

Wav readWav(const std::string& path) {
    Wav wav;
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file) return wav;
    wav.channels = info.channels;
    wav.rate = info.samplerate;
    wav.samples.resize(size_t(info.frames) * size_t(info.channels));
    sf_readf_float(file, wav.samples.data(), info.frames);
    sf_close(file);
    return wav;
}

// The stereo the codec should give for an input file: libsndfile's own float reading of it, with a mono
// file's second channel silent.
std::vector<float> expectedStereo(const Wav& input) {
    std::vector<float> stereo;
    size_t frames = input.samples.size() / size_t(input.channels);
    for (size_t i = 0; i < frames; ++i) {
        stereo.push_back(input.samples[i * size_t(input.channels)]);
        stereo.push_back(input.channels > 1 ? input.samples[i * size_t(input.channels) + 1] : 0.0f);
    }
    return stereo;
}

}

TEST(FileCodec, RendersFilesBitExactThroughAnEmptyChain) {
    const struct {
        const char* name;
        int channels;
        int format;
        size_t frames;
    } cases[] = {
        {"stereo float, partial last frame", 2, SF_FORMAT_FLOAT, 5003},
        {"stereo 24 bit, whole frames", 2, SF_FORMAT_PCM_24, 4096 + 16 * 7},
        {"mono 16 bit", 1, SF_FORMAT_PCM_16, 777},
        {"four channels float", 4, SF_FORMAT_FLOAT, 1000},
    };
    unsigned seed = 1;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder folder;
        std::vector<float> input = reference::noise(c.frames * size_t(c.channels), seed++);
        writeWav(folder.file("in.wav"), input, c.channels, 48000, c.format);
        FileCodec codec(folder.file("in.wav"), folder.file("out.wav"), false);
        ASSERT_TRUE(codec.initialize());
        ASSERT_TRUE(codec.start());
        for (int guard = 0; !codec.isFinished() && guard < 10000; ++guard) {
            float frame[2][16];
            ASSERT_TRUE(codec.read(frame));
            AudioProcessor::processFrame(frame);
            ASSERT_TRUE(codec.write(frame));
        }
        ASSERT_TRUE(codec.isFinished());
        Wav output = readWav(folder.file("out.wav"));
        EXPECT_EQ(output.channels, 2);
        EXPECT_EQ(output.rate, 48000);
        std::vector<float> expected = expectedStereo(readWav(folder.file("in.wav")));
        ASSERT_EQ(output.samples.size(), expected.size());
        for (size_t i = 0; i < expected.size(); ++i) ASSERT_EQ(output.samples[i], expected[i]) << "sample " << i;
    }
}

TEST(FileCodec, RefusesWhatItCannotPlayWithAClearError) {
    TempFolder folder;
    writeWav(folder.file("44k.wav"), reference::noise(2000, 7), 2, 44100, SF_FORMAT_PCM_16);
    testsupport::writeFile(folder.file("junk.wav"), std::string(300, 'x'));
    const struct {
        std::string input;
        std::string output;
        const char* why;
    } cases[] = {
        {folder.file("44k.wav"), "", "44100 Hz"},
        {folder.file("missing.wav"), "", "missing.wav"},
        {folder.file("junk.wav"), "", "junk.wav"},
        {"", folder.file("no/such/folder/out.wav"), "out.wav"},
    };
    for (const auto& c : cases) {
        testing::internal::CaptureStdout();
        FileCodec codec(c.input, c.output, true);
        EXPECT_FALSE(codec.initialize()) << c.why;
        const std::string log = testing::internal::GetCapturedStdout();
        EXPECT_NE(log.find("ERROR (FileCodec): "), std::string::npos) << log;
        EXPECT_NE(log.find(c.why), std::string::npos) << log;
    }
}

TEST(FileCodec, WithoutInputPlaysSilenceAndRecordsTheOutput) {
    TempFolder folder;
    const int frames = 300;
    {
        FileCodec codec("", folder.file("out.wav"), true);
        ASSERT_TRUE(codec.initialize());
        codec.start();
        for (int f = 0; f < frames; ++f) {
            float frame[2][16];
            std::fill(&frame[0][0], &frame[0][0] + 32, 1.0f);
            ASSERT_TRUE(codec.read(frame));
            for (int i = 0; i < 16; ++i) ASSERT_EQ(frame[0][i] + frame[1][i], 0.0f);
            frame[0][0] = 0.25f;
            codec.write(frame);
        }
        EXPECT_FALSE(codec.isFinished());
    }
    Wav output = readWav(folder.file("out.wav"));
    ASSERT_EQ(output.samples.size(), size_t(frames) * 32);
    EXPECT_EQ(output.samples[0], 0.25f);
    EXPECT_EQ(output.samples[32 * 299], 0.25f);
    EXPECT_EQ(output.samples[1], 0.0f);
}

void streamAFileInRealTime() {
    TempFolder folder;
    std::vector<float> input = reference::noise(48000 / 5 * 2, 11); // 200 ms of stereo
    writeWav(folder.file("in.wav"), input, 2, 48000, SF_FORMAT_FLOAT);
    setenv("PEDAL_CODEC", "file", 1);
    setenv("PEDAL_CODEC_IN", folder.file("in.wav").c_str(), 1);
    setenv("PEDAL_CODEC_OUT", folder.file("out.wav").c_str(), 1);
    unsetenv("PEDAL_CODEC_OFFLINE");

    AudioBlock block(
        "pass", nullptr, [](void*, float(*)[Frame::kSamples]) { return false; }, AudioBlock::kBack);
    ASSERT_TRUE(Codec::initialize());
    auto* codec = dynamic_cast<FileCodec*>(Codec::active());
    ASSERT_NE(codec, nullptr);
    ASSERT_TRUE(AudioProcessor::audioInitialize(true));
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!codec->isFinished() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_TRUE(codec->isFinished()) << "the audio thread did not stream the file within 20 s";
    Wav output = readWav(folder.file("out.wav"));
    ASSERT_EQ(output.samples.size(), input.size());
    for (size_t i = 0; i < input.size(); ++i) ASSERT_EQ(output.samples[i], input[i]) << "sample " << i;
}

// The audio threads it starts and its block stay in a child process of their own, away from later cases.
TEST(FileCodec, TheAudioThreadStreamsAFileInRealTime) {
    EXPECT_TRUE(testsupport::passesInAChildProcess(streamAFileInRealTime));
}

TEST(FileCodec, CodecListTakesTheFirstInterfaceThatInitialises) {
    setenv("PEDAL_CODEC", "none", 1);
    FileCodec refusing("/nonexistent/in.wav", "", true);
    FileCodec working("", "", false);
    Codec::add(&refusing);
    Codec::add(&working);
    Codec::add(nullptr);
    testing::internal::CaptureStdout();
    EXPECT_TRUE(Codec::initialize());
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(Codec::count(), 2);
    EXPECT_EQ(Codec::active(), &working);
    EXPECT_EQ(Codec::at(5), nullptr);
    EXPECT_TRUE(AudioProcessor::audioStep());
}
