// The sound card codec and the USB bridge's streams against ALSA's "null" device (it takes and gives frames
// at once) and against a device that does not exist.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "AlsaCodec.h"
#include "AudioUSB.h"

namespace {

namespace fs = std::filesystem;

void writeState(const std::string& path, const char* state) {
    FILE* file = std::fopen(path.c_str(), "w");
    ASSERT_NE(file, nullptr);
    std::fputs(state, file);
    std::fclose(file);
}

}

TEST(AlsaCodec, StreamsThroughADeviceAndRefusesAMissingOne) {
    testing::internal::CaptureStdout();
    AlsaCodec missing("pedal_no_such_device");
    EXPECT_FALSE(missing.initialize());
    std::string log = testing::internal::GetCapturedStdout();
    EXPECT_NE(log.find("ERROR (AlsaCodec): Cannot open playback device pedal_no_such_device"), std::string::npos)
        << log;

    testing::internal::CaptureStdout();
    AlsaCodec codec("null");
    ASSERT_TRUE(codec.initialize());
    ASSERT_TRUE(codec.start());
    testing::internal::GetCapturedStdout();
    for (int i = 0; i < 50; ++i) {
        float frame[2][16];
        for (auto& channel : frame) {
            for (float& sample : channel) sample = 0.5f;
        }
        ASSERT_TRUE(codec.read(frame));
        EXPECT_EQ(frame[0][0], 0.0f) << "the null device captures silence";
        frame[0][0] = 2.0f; // clamped on the way out
        ASSERT_TRUE(codec.write(frame));
    }
}

TEST(AudioUSB, BridgeOpensWithTheHostAndClosesWhenItLeaves) {
    fs::path folder = fs::temp_directory_path() / ("pedal-bridge-" + std::to_string(getpid()));
    fs::create_directories(folder);
    std::string state = (folder / "state").string();
    AudioUSB::setStatePath(state);
    AudioUSB::setDevices("null", "null");
    testing::internal::CaptureStdout();

    AudioUSB::stateStep();
    EXPECT_GT(AudioUSB::bridgeStep(), 0u) << "no host: the bridge waits";
    EXPECT_FALSE(AudioUSB::isStreaming());

    writeState(state, "configured\n");
    AudioUSB::stateStep();
    EXPECT_EQ(AudioUSB::bridgeStep(), 0u);
    EXPECT_TRUE(AudioUSB::isStreaming());
    for (int i = 0; i < 10; ++i) {
        float frame[2][16] = {};
        AudioUSB::exchange(frame);
        EXPECT_EQ(AudioUSB::bridgeStep(), 0u);
    }

    writeState(state, "suspended\n");
    AudioUSB::stateStep();
    EXPECT_GT(AudioUSB::bridgeStep(), 0u);
    EXPECT_FALSE(AudioUSB::isStreaming());

    // A host that comes while the devices are missing: one error line, quiet retries.
    AudioUSB::setDevices("pedal_no_such_device", "pedal_no_such_device");
    writeState(state, "configured\n");
    AudioUSB::stateStep();
    EXPECT_GT(AudioUSB::bridgeStep(), 0u);
    EXPECT_GT(AudioUSB::bridgeStep(), 0u);
    EXPECT_FALSE(AudioUSB::isStreaming());
    std::string log = testing::internal::GetCapturedStdout();
    EXPECT_NE(log.find("I (AudioUSB): USB audio streams open"), std::string::npos) << log;
    EXPECT_NE(log.find("I (AudioUSB): USB audio streams closed"), std::string::npos) << log;
    size_t first = log.find("ERROR (AudioUSB): Cannot open capture device pedal_no_such_device");
    ASSERT_NE(first, std::string::npos) << log;
    EXPECT_EQ(log.find("ERROR (AudioUSB)", first + 1), std::string::npos) << log;
    fs::remove_all(folder);
}
