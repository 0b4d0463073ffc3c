// The full application as a process: the product tree is reachable over TCP, a written setting reaches the
// storage through the input thread's sweep, SIGTERM ends the process cleanly after writing what the sweep
// still holds, and the next process in the same home starts with the settings; a slot name cannot turn a
// preset load into a save.
#include "tests/board/BoardTestSupport.h"
#include "tests/support/ProcessTestSupport.h"
#include "core/Security.h"
#include "core/Storable.h"
#include "neural/ModelLimits.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <netinet/in.h>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using processtest::freePort;
using processtest::waitFor;

// The stored file of a path.
std::string storageFile(const std::string& home, const std::string& path) {
    return home + "/storage/" + Storable::keyText(Storable::fnv1a(path));
}

// One TCP connection kept across requests; the token of a reply that has one is kept for the next answer.
struct Connection {
    explicit Connection(int port) : fd(socket(AF_INET, SOCK_STREAM, 0)) {
        timeval timeout{10, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(uint16_t(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    }
    ~Connection() { close(fd); }
    bool send(const std::string& text) {
        return connected && ::send(fd, text.c_str(), text.size() + 1, MSG_NOSIGNAL) == ssize_t(text.size() + 1);
    }
    // The reply without its NUL, or "" when none came within 10 s.
    std::string receive() {
        std::string reply;
        char buffer[4096];
        ssize_t count;
        while ((count = recv(fd, buffer, sizeof(buffer), 0)) > 0) {
            reply.append(buffer, size_t(count));
            if (reply.back() == '\0') {
                reply.pop_back();
                if (reply.rfind("token ", 0) == 0) token = reply.substr(6, 16);
                return reply;
            }
        }
        return "";
    }
    std::string ask(const std::string& text) { return send(text) ? receive() : ""; }
    // What the pedal on `port` has not read yet of what this connection sent (its socket's receive queue).
    long unread(int port) const {
        sockaddr_in own{};
        socklen_t length = sizeof(own);
        getsockname(fd, reinterpret_cast<sockaddr*>(&own), &length);
        char ends[48];
        std::snprintf(ends, sizeof ends, "0100007F:%04X 0100007F:%04X ", unsigned(port), unsigned(ntohs(own.sin_port)));
        const std::string table = boardtest::readFile("/proc/net/tcp");
        const size_t at = table.find(ends);
        long bytes = -1;
        if (at != std::string::npos) std::sscanf(table.c_str() + at + std::strlen(ends), "%*x %*x:%lx", &bytes);
        return bytes;
    }
    // The lines after the answer to the last token.
    std::string answer(const std::string& password, const std::string& lines) {
        return ask("token " + Security::answerFor(password, token) + "\r\n" + lines);
    }

    const int fd;
    bool connected = false;
    std::string token;
};

// One request over a fresh connection; the reply without its NUL, or "" when the pedal did not answer.
std::string request(int port, const std::string& text) { return Connection(port).ask(text); }

// The full application serving the tree on a TCP port; extra: more environment, e.g. a file codec in place
// of none.
struct FullApplication : processtest::PedalProcess {
    FullApplication(const std::string& home, int port, std::vector<std::string> extra = {})
        : PedalProcess(home, withTcp(port, std::move(extra))) {}
    static std::vector<std::string> withTcp(int port, std::vector<std::string> environment) {
        environment.push_back("PEDAL_TCP_PORT=" + std::to_string(port));
        environment.push_back("APP_CALLED=1");
        return environment;
    }
};

TEST(PedalProductProcess, SettingsWrittenOverTcpSurviveARestart) {
    const std::string home = boardtest::ownHome();
    const std::string volume = "root\\app\\output\\vol";
    for (const std::string value : {"50.0", "72.0"}) {
        const int port = freePort();
        FullApplication pedal(home, port);
        ASSERT_TRUE(pedal.started);
        std::string described;
        ASSERT_TRUE(waitFor([&] { return !(described = request(port, "browse " + volume)).empty(); }))
            << boardtest::readFile(home + "/pedal.log");
        EXPECT_EQ(described, volume + ":{\"type\":\"float\",\"name\":\"Volume\",\"value\":" + value +
                                 ",\"min\":0.0,\"max\":100.0,\"def\":50.0,\"unit\":\"%\",\"dec\":0}");
        if (value == "50.0") {
            EXPECT_EQ(request(port, "write " + volume + ":{\"value\":72}"), volume + ":{\"value\":72}\r\n");
            // The key's own file: its temporary file holds the value before the rename makes it count.
            EXPECT_TRUE(waitFor([&] { return boardtest::readFile(storageFile(home, volume)) == "{\"value\":72.0}"; }))
                << "the storage sweep did not write the volume";
        }
        // Ctrl-C ends it as a service stop does.
        EXPECT_EQ(pedal.stop(value == "50.0" ? SIGINT : SIGTERM), 0) << pedal.logText();
    }
}

// Starts the pedal in home and waits until it answers over TCP.
bool startAndBrowse(FullApplication& pedal, int port, const std::string& home) {
    if (!pedal.started) return false;
    const bool answered = waitFor([&] { return !request(port, "browse root\\app\\output\\vol").empty(); });
    EXPECT_TRUE(answered) << boardtest::readFile(home + "/pedal.log");
    return answered;
}

// A writer loops on the alias while SIGTERM comes, 20 times: each next start has the last echoed value, or
// the one written after it whose echo the stop cut off. An echoed write is never lost.
TEST(PedalProductProcess, NoEchoedWriteIsLostToTheStop) {
    const std::string home = boardtest::ownHome();
    const std::string alias = "root\\sys\\alias";
    std::string echoed, unanswered;
    for (int round = 0; round <= 20; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        const int port = freePort();
        FullApplication pedal(home, port);
        ASSERT_TRUE(startAndBrowse(pedal, port, home));
        const std::string stored = request(port, "browse " + alias);
        auto holds = [&](const std::string& value) {
            return stored.find("\"value\":\"" + value + "\"") != std::string::npos;
        };
        EXPECT_TRUE(round == 0 || holds(echoed) || holds(unanswered)) << "last echoed " << echoed << ", got " << stored;
        if (round == 20) break;
        std::atomic<int> echoes{0};
        std::thread writer([&] {
            Connection connection(port);
            for (int n = 0;; ++n) {
                unanswered = "r" + std::to_string(round) + "w" + std::to_string(n);
                const std::string line = alias + ":{\"value\":\"" + unanswered + "\"}";
                if (connection.ask("write " + line) != line + "\r\n") break;
                echoed = unanswered;
                ++echoes;
            }
        });
        // After a few writes, a varying number: the stop meets the writes at different points.
        EXPECT_TRUE(waitFor([&] { return echoes >= 1 + round % 5; })) << "the writes are not answered";
        EXPECT_EQ(pedal.stop(), 0) << pedal.logText();
        writer.join();
    }
}

TEST(PedalProductProcess, ASlotNameCannotTurnALoadIntoASave) {
    const std::string home = boardtest::ownHome();
    const std::string evil = "Evil\",\"save\":\"save";
    const std::string evilJson = R"(Evil\",\"save\":\"save)";
    // A preset stored under that name before such names were refused: the name record, then the text.
    const std::string text = "root\\app\\output\\pst\\level:{\"value\":7.0}";
    const std::string file = testsupport::slotRecord(evil, uint32_t(text.size()), uint32_t(text.size())) + text;
    const std::string slotFile = storageFile(home, "root\\presets\\0");
    boardtest::writeFile(slotFile, file, std::filesystem::perms(0644));

    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run == 0 ? "selected over TCP" : "selection restored at the start");
        const int port = freePort();
        FullApplication pedal(home, port);
        ASSERT_TRUE(startAndBrowse(pedal, port, home));
        if (run == 0) {
            // A new slot cannot take the name; the stored one loads by it.
            const std::string record = testsupport::hex(evil) + std::string(256 - 2 * evil.size(), '0');
            EXPECT_EQ(request(port, "dwrite root\\presets:{\"index\":1,\"chunk\":0,\"value\":\"" + record + "\"}"),
                      "dwrite root\\presets:{\"index\":-1,\"chunk\":-1}");
            request(port, "write root\\app\\preset:{\"value\":\"" + evilJson + "\"}");
        }
        const std::string preset = request(port, "browse root\\app\\preset");
        EXPECT_NE(preset.find("\"value\":\"" + evilJson + "\""), std::string::npos) << preset;
        const std::string level = request(port, "browse root\\app\\output\\pst\\level");
        EXPECT_NE(level.find("\"value\":7.0"), std::string::npos) << level;
        EXPECT_EQ(pedal.stop(), 0);
        EXPECT_EQ(boardtest::readFile(slotFile), file) << "the preset is never saved over";
    }
    // Then the selected slot is replaced while another preset has the name before the suffix: the stored
    // selection names no slot now, and it selects none rather than save over that preset at every start.
    const std::string prefixed = testsupport::slotRecord("Evil", uint32_t(text.size()), uint32_t(text.size())) + text;
    const std::string prefixedFile = storageFile(home, "root\\presets\\1");
    boardtest::writeFile(prefixedFile, prefixed, std::filesystem::perms(0644));
    boardtest::writeFile(slotFile,
                         testsupport::slotRecord("Other", uint32_t(text.size()), uint32_t(text.size())) + text,
                         std::filesystem::perms(0644));
    for (int run = 1; run <= 3; ++run) {
        SCOPED_TRACE("start " + std::to_string(run) + " after the slot was replaced");
        const int port = freePort();
        FullApplication pedal(home, port);
        ASSERT_TRUE(startAndBrowse(pedal, port, home));
        const std::string preset = request(port, "browse root\\app\\preset");
        EXPECT_NE(preset.find("\"value\":\"\""), std::string::npos) << preset;
        EXPECT_EQ(pedal.stop(), 0);
        EXPECT_TRUE(boardtest::readFile(prefixedFile) == prefixed) << "the preset is never saved over";
    }
}

// Uploads data into a list over TCP (gzip-compressed, or plain in chunks of 128 bytes); the reply to the last
// chunk.
std::string uploadSlot(int port, const std::string& list, int index, const std::string& name, const std::string& data,
                       bool compressed = true) {
    const std::string stream = compressed ? testsupport::gzip(data) : data;
    const size_t chunkSize = compressed ? 4096 : 128;
    const std::string record = testsupport::slotRecord(name, uint32_t(stream.size()), uint32_t(data.size()));
    Connection connection(port); // an upload belongs to the connection that began it
    auto chunk = [&](int number, const std::string& bytes) {
        return connection.ask("dwrite " + list + ":{\"index\":" + std::to_string(index) + ",\"chunk\":" +
                              std::to_string(number) + ",\"value\":\"" + testsupport::hex(bytes) + "\"}");
    };
    std::string reply = chunk(0, record);
    for (size_t offset = 0, number = 1; offset < stream.size(); offset += chunkSize, ++number)
        reply = chunk(int(number), stream.substr(offset, chunkSize));
    return reply;
}

// Chunks from..to of a download over one connection: chunk 0 as the name record's name and "=", then the data
// until its end; "no reply" when a chunk is not answered.
std::string slotText(Connection& connection, const std::string& list, int index, int from = 0, int to = 1 << 20) {
    std::string text;
    for (int chunk = from; chunk <= to; ++chunk) {
        const std::string reply = connection.ask("dread " + list + ":{\"index\":" + std::to_string(index) +
                                                 ",\"chunk\":" + std::to_string(chunk) + "}");
        const size_t value = reply.find("\"value\":\"");
        if (value == std::string::npos) return "no reply";
        const std::string bytes = testsupport::unhex(reply.substr(value + 9, reply.rfind('"') - value - 9));
        if (chunk > 0 && bytes.empty()) break;
        text += chunk == 0 ? bytes.substr(0, bytes.find('\0')) + "=" : bytes;
    }
    return text;
}

// A 48 kHz mono float WAV of the samples.
std::string floatWav(const std::vector<float>& samples) {
    std::string out = "RIFF";
    auto put = [&](uint32_t value, int bytes) {
        for (int k = 0; k < bytes; ++k) out += char((value >> (8 * k)) & 0xFF);
    };
    put(36 + uint32_t(samples.size()) * 4, 4);
    out += "WAVEfmt ";
    put(16, 4), put(3, 2), put(1, 2), put(48000, 4), put(48000 * 4, 4), put(4, 2), put(32, 2);
    out += "data";
    put(uint32_t(samples.size()) * 4, 4);
    return out + std::string(reinterpret_cast<const char*>(samples.data()), samples.size() * 4);
}

// A 64-tap average, a clear low-pass; cut after keptDataBytes of its data when given.
std::string cabinetWav(size_t keptDataBytes = 256) {
    return floatWav(std::vector<float>(64, 1.0f / 64)).substr(0, 44 + keptDataBytes);
}

// White noise.
std::string noiseWav(uint32_t frames) {
    std::vector<float> samples(frames);
    uint32_t state = 12345;
    for (float& sample : samples) {
        state = state * 1664525u + 1013904223u;
        sample = 0.5f * (float(state >> 8) / float(1 << 24) - 0.5f);
    }
    return floatWav(samples);
}

// The left channel of the stereo float file the codec writes, as far as it is written.
std::vector<float> outputSoFar(const std::string& path) {
    const std::string file = boardtest::readFile(path);
    std::vector<float> left;
    for (size_t position = 12; position + 8 <= file.size();) {
        uint32_t length;
        std::memcpy(&length, file.data() + position + 4, 4);
        if (file.compare(position, 4, "data") == 0) {
            for (size_t at = position + 8; at + 8 <= file.size(); at += 8) {
                float sample;
                std::memcpy(&sample, file.data() + at, 4);
                left.push_back(sample);
            }
            break;
        }
        position += 8 + length + (length & 1);
    }
    return left;
}

// High-band share of a stretch: energy of the first difference over the energy. White noise gives 2; a
// 64-tap average 2/64; the ten taps a truncated file would leave 2/10.
double highBandShare(const std::vector<float>& signal, size_t from, size_t to) {
    double difference = 0.0, energy = 0.0;
    for (size_t n = from + 1; n < to; ++n) {
        difference += double(signal[n] - signal[n - 1]) * double(signal[n] - signal[n - 1]);
        energy += double(signal[n]) * double(signal[n]);
    }
    return energy > 0.0 ? difference / energy : -1.0;
}

// A small runtime-sized WaveNet whose weights are all zero: it plays silence, which a pass-through would not.
// Its first array has `width` channels and `depth` layers of dilation 1. With seed set, its weights are small
// pseudo-random values and it plays a distorted guitar.
std::string silentModel(int width = 2, int depth = 2, uint32_t seed = 0) {
    struct Array {
        int inputs, heads, channels;
        bool headBias;
    };
    const Array arrays[2] = {{1, 1, width, false}, {width, 1, 1, true}};
    std::string layers;
    size_t count = 1;
    for (const Array& a : arrays) {
        std::string dilations = "1,2";
        if (&a == arrays && depth != 2)
            for (int layer = 1; layer < depth; ++layer) dilations = (layer > 1 ? dilations : "1") + ",1";
        if (!layers.empty()) layers += ",";
        layers += "{\"input_size\":" + std::to_string(a.inputs) +
                  ",\"condition_size\":1,\"head_size\":" + std::to_string(a.heads) +
                  ",\"channels\":" + std::to_string(a.channels) + ",\"kernel_size\":3,\"dilations\":[" + dilations +
                  "],\"activation\":\"Tanh\",\"gated\":false,\"head_bias\":" + (a.headBias ? "true" : "false") + "}";
        const size_t ch = size_t(a.channels), n = &a == arrays ? size_t(depth) : 2;
        count +=
            ch * size_t(a.inputs) + n * (3 * ch * ch + 3 * ch + ch * ch) + size_t(a.heads) * ch + (a.headBias ? 1 : 0);
    }
    std::string weights;
    for (uint32_t k = 0, state = seed; k < count; ++k) {
        state = state * 1664525u + 1013904223u;
        weights += (k ? "," : "") + (seed ? std::to_string(float(state >> 8) / float(1 << 24) - 0.5f) : "0");
    }
    return "{\"version\":\"0.5.0\",\"architecture\":\"WaveNet\",\"config\":{\"layers\":[" + layers +
           "],\"head\":null},\"sample_rate\":48000,\"weights\":[" + weights + "]}";
}

// The silent model changed: its metadata, both input mixin weights of its first layer (behind 2 rechannel
// weights and 12 taps and 2 biases of the convolution), or, for the cost, 24 channels and the fewest layers
// (4 C^2 + 3 C multiply-adds and C tanh values each) that take 1.3 times a model's share of a frame.
std::string withMetadata(const char* metadata) {
    return "{\"metadata\":" + std::string(metadata) + "," + silentModel().substr(1);
}
std::string withMixin(double weight) {
    nlohmann::json model = nlohmann::json::parse(silentModel());
    model["weights"][16] = model["weights"][17] = weight;
    return model.dump();
}
std::string costlyModel() {
    using Limits = RuveroRidev::ModelLimits;
    const double perLayer =
        (4 * 24 * 24 + 3 * 24) * Limits::deviceCyclesPerMultiplyAdd + 24 * Limits::deviceCyclesPerTanh;
    return silentModel(24, int(std::ceil(1.3 * Limits::maxDeviceCyclesPerSample / perLayer)));
}

double rms(const std::vector<float>& signal, size_t from, size_t to) {
    double energy = 0.0;
    for (size_t n = from; n < to; ++n) energy += double(signal[n]) * double(signal[n]);
    return to > from ? std::sqrt(energy / double(to - from)) : 0.0;
}

// The full application playing 40 s of noise through the file codec into home/out.wav.
struct PlayingPedal {
    explicit PlayingPedal(const std::string& home)
        : output(home + "/out.wav"),
          port(freePort()),
          pedal(home, port, {"PEDAL_CODEC=file", "PEDAL_CODEC_IN=" + input(home), "PEDAL_CODEC_OUT=" + output}) {}
    static std::string input(const std::string& home) {
        boardtest::writeFile(home + "/in.wav", noiseWav(48000 * 40), std::filesystem::perms(0644));
        return home + "/in.wav";
    }
    // Waits until `frames` more frames are in the output (0.5 s lets a fade settle); the count then.
    size_t framesAfter(size_t frames) {
        const size_t wanted = outputSoFar(output).size() + frames;
        size_t now = 0;
        EXPECT_TRUE(waitFor([&] { return (now = outputSoFar(output).size()) >= wanted; })) << "the output stalls";
        return now;
    }

    const std::string output;
    const int port;
    FullApplication pedal;
};

// The cabinet plays from a 64-tap low-pass; a truncated copy uploaded over its slot is refused and the output
// keeps the same high-band share (the ten taps that arrived would raise it about sixfold).
TEST(PedalProductProcess, ARefusedImpulseResponseLeavesTheOutputAsItWas) {
    const std::string home = boardtest::ownHome();
    PlayingPedal playing(home);
    const int port = playing.port;
    ASSERT_TRUE(startAndBrowse(playing.pedal, port, home));
    const std::string irList = "root\\ir_list";
    ASSERT_EQ(uploadSlot(port, irList, 0, "Cab", cabinetWav()), "dwrite " + irList + ":{\"index\":0,\"chunk\":1}");
    request(port, "write root\\app\\ir\\ir:{\"value\":\"Cab\"}");
    request(port, "write root\\app\\ir\\on_off:{\"value\":\"ON\"}");
    const std::string slotFile = storageFile(home, irList + "\\0");
    const std::string stored = boardtest::readFile(slotFile);

    const size_t start = playing.framesAfter(24000);
    const size_t beforeUpload = playing.framesAfter(48000);
    EXPECT_EQ(uploadSlot(port, irList, 0, "Cab", cabinetWav(40)), "dwrite " + irList + ":{\"index\":-1,\"chunk\":-1}");
    const size_t settled = playing.framesAfter(24000);
    const size_t end = playing.framesAfter(48000);
    const std::vector<float> played = outputSoFar(playing.output);
    EXPECT_EQ(playing.pedal.stop(), 0);

    const double shaped = highBandShare(played, start, beforeUpload), after = highBandShare(played, settled, end);
    EXPECT_LT(shaped, 0.1) << "the 64-tap response shapes the output";
    EXPECT_NEAR(after / shaped, 1.0, 0.25) << shaped << " then " << after;
    EXPECT_EQ(boardtest::readFile(slotFile), stored) << "the stored response stays";
    const std::string log = boardtest::readFile(home + "/pedal.log");
    EXPECT_NE(log.find("ERROR (NodeList): root\\ir_list: slot 0 ('Cab') refused: truncated"), std::string::npos) << log;
}

// The amp plays a model that silences the guitar; a model file the player could not take or would not play
// as it should, uploaded over its slot, is refused: the output stays silent (the slot without a model would
// pass the noise through; a model gone non-finite is cleared to silence too, hence the reply), and after a
// restart the list still holds the amp's model.
void expectRefusedModel(const std::string& what, const std::string& text, const std::string& reason, int row) {
    const std::string home = boardtest::ownHome() + "/" + std::to_string(row);
    std::filesystem::create_directories(home);
    PlayingPedal playing(home);
    const int port = playing.port;
    ASSERT_TRUE(startAndBrowse(playing.pedal, port, home));
    const std::string models = "root\\nam_amp";
    const size_t passStart = playing.framesAfter(0);
    const size_t passEnd = playing.framesAfter(24000);
    ASSERT_EQ(uploadSlot(port, models, 0, "Amp", silentModel()), "dwrite " + models + ":{\"index\":0,\"chunk\":1}");
    request(port, "write root\\app\\amp\\model:{\"value\":\"Amp\"}");
    request(port, "write root\\app\\amp\\on_off:{\"value\":\"ON\"}");

    const size_t start = playing.framesAfter(24000);
    const size_t beforeUpload = playing.framesAfter(24000);
    EXPECT_EQ(uploadSlot(port, models, 0, "Loud", text), "dwrite " + models + ":{\"index\":-1,\"chunk\":-1}") << what;
    const size_t settled = playing.framesAfter(24000);
    const size_t end = playing.framesAfter(24000);
    const std::vector<float> played = outputSoFar(playing.output);
    EXPECT_EQ(playing.pedal.stop(), 0);

    const double passed = rms(played, passStart, passEnd);
    ASSERT_GT(passed, 1e-3) << "the noise passes before the model plays";
    EXPECT_LT(rms(played, start, beforeUpload), passed * 0.01) << "the model silences the output";
    EXPECT_LT(rms(played, settled, end), passed * 0.01) << what << ": and still does after the refused upload";
    const std::string log = boardtest::readFile(home + "/pedal.log");
    EXPECT_TRUE(log.find("root\\nam_amp: slot 0 ('Loud') refused: ") != log.npos && log.find(reason) != log.npos)
        << log;
    FullApplication again(home, port);
    ASSERT_TRUE(startAndBrowse(again, port, home));
    Connection connection(port);
    EXPECT_EQ(slotText(connection, models, 0, 0, 0), "Amp=") << what;
    EXPECT_EQ(again.stop(), 0);
}

TEST(PedalProductProcess, ARefusedModelLeavesTheOutputAsItWas) {
    expectRefusedModel("cut short", silentModel().substr(0, 200), "not a JSON model file", 0);
    expectRefusedModel("+582 dB", withMetadata("{\"loudness\":-600}"), "its metadata moves the output level by +582",
                       1);
    expectRefusedModel("+312 dB", withMetadata("{\"input_level_dbu\":-300}"), "its metadata moves the input level", 2);
    expectRefusedModel("mixin 1e10", withMixin(1e10), "its output is not finite on a test sweep at the loudest", 3);
    expectRefusedModel("1.3 frame shares", costlyModel(), "of a frame on the device, at most 50 %", 4);
}

// A stored password cut short opens nothing: a write without an answer is refused and the alias stays.
TEST(PedalProductProcess, AnUnreadablePasswordRefusesWritesWithoutAnAnswer) {
    const std::string home = boardtest::ownHome(), alias = "root\\sys\\alias";
    std::filesystem::create_directories(home + "/storage");
    boardtest::writeFile(storageFile(home, "root\\sys\\pwd"), "{\"value\":\"secr", std::filesystem::perms(0600));
    const int port = freePort();
    FullApplication pedal(home, port);
    ASSERT_TRUE(startAndBrowse(pedal, port, home));
    EXPECT_EQ(request(port, "write " + alias + ":{\"value\":\"open\"}").substr(23), "n\r\n");
    Connection client(port);
    client.ask("token -");
    EXPECT_EQ(client.answer("", "write " + alias + ":{\"value\":\"open\"}").substr(23), "n\r\n") << "no password";
    EXPECT_EQ(pedal.stop(), 0);
    EXPECT_TRUE(pedal.logHas("The stored password cannot be read")) << pedal.logText();
    EXPECT_EQ(boardtest::readFile(storageFile(home, alias)).find("open"), std::string::npos);
}

// A swap of two presets cut after each of its file steps in turn (the host pedal ends itself there, as at a
// power cut): at the next start both slots are whole, either as before or exchanged, never lost or doubled.
TEST(PedalProductProcess, ASwapCutAfterAnyStepLeavesBothSlotsWhole) {
    const std::string home = boardtest::ownHome();
    const std::string presets = "root\\presets";
    const std::string a = "A:" + std::string(300, 'a'), b = "B:" + std::string(200, 'b');
    // Starts a pedal and checks the slots; the state it found (true: as first uploaded).
    auto checkSlots = [&](const std::vector<std::string>& environment, int& port) {
        port = freePort();
        auto pedal = std::make_unique<FullApplication>(home, port, environment);
        EXPECT_TRUE(startAndBrowse(*pedal, port, home));
        Connection reader(port);
        const std::string first = slotText(reader, presets, 0), second = slotText(reader, presets, 1);
        const bool before = first == "A=" + a && second == "B=" + b, swapped = first == "B=" + b && second == "A=" + a;
        EXPECT_TRUE(before || swapped) << first.substr(0, 8) << " | " << second.substr(0, 8);
        return pedal;
    };
    int port = freePort();
    {
        FullApplication pedal(home, port);
        ASSERT_TRUE(startAndBrowse(pedal, port, home));
        ASSERT_NE(uploadSlot(port, presets, 0, "A", a, false).find("\"index\":0"), std::string::npos);
        ASSERT_NE(uploadSlot(port, presets, 1, "B", b, false).find("\"index\":1"), std::string::npos);
        ASSERT_EQ(pedal.stop(), 0);
    }
    const std::string swap = "dswap " + presets + ":{\"index\":0,\"index2\":1}";
    int steps = 1;
    for (; steps < 12; ++steps) {
        SCOPED_TRACE("cut after step " + std::to_string(steps));
        auto pedal = checkSlots({"PEDAL_CODEC=none", "PEDAL_STORAGE_CUT_AFTER=" + std::to_string(steps)}, port);
        if (testing::Test::HasFailure()) return;
        const std::string reply = request(port, swap);
        int status = 0;
        if (!reply.empty()) break; // the swap ran to its end before the cut
        ASSERT_TRUE(waitFor([&] { return waitpid(pedal->pid, &status, WNOHANG) == pedal->pid; }));
        pedal->pid = -1;
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 9) << "ended by the cut";
    }
    EXPECT_GE(steps, 5) << "the swap was cut between its steps";
    auto last = checkSlots({"PEDAL_CODEC=none"}, port);
    EXPECT_EQ(last->stop(), 0);
}

// The CPU time a process has used so far (user and system), in seconds.
double cpuSeconds(pid_t pid) {
    const std::string stat = boardtest::readFile("/proc/" + std::to_string(pid) + "/stat");
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::string field;
    long ticks = 0;
    // After the name: the state is field 3; user and system time are fields 14 and 15.
    for (int number = 3; number <= 15 && fields >> field; ++number)
        if (number >= 14) ticks += std::stol(field);
    return double(ticks) / double(sysconf(_SC_CLK_TCK));
}

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// 1,444 downloads in one request alternating between two 1 MiB impulse-response slots: the request ends after
// the first, which compresses one slot; it and another client's request are answered at once.
TEST(PedalProductProcess, ARequestCompressesOneSlotAtMost) {
    const std::string home = boardtest::ownHome();
    std::string data(1 << 20, '\0');
    uint32_t state = 1;
    for (char& byte : data) byte = char((state = state * 1664525u + 1013904223u) >> 28);
    for (int k = 0; k < 2; ++k)
        boardtest::writeFile(
            storageFile(home, "root\\ir_list\\" + std::to_string(k)),
            testsupport::slotRecord("Big" + std::to_string(k), uint32_t(data.size()), uint32_t(data.size())) + data,
            std::filesystem::perms(0644));
    const int port = freePort();
    FullApplication pedal(home, port);
    ASSERT_TRUE(startAndBrowse(pedal, port, home));
    std::string lines;
    for (int k = 0; k < 1444; ++k)
        lines +=
            std::string(k ? "\r\n" : "") + "dread root\\ir_list:{\"index\":" + std::to_string(k % 2) + ",\"chunk\":0}";
    Connection downloader(port), other(port);
    const std::string name = "browse root\\sys\\_name";
    ASSERT_NE(other.ask(name), "");
    // The other client's request comes once the pedal has read all of this one (its lines, then its end).
    ASSERT_EQ(send(downloader.fd, lines.data(), lines.size(), MSG_NOSIGNAL), ssize_t(lines.size()));
    ASSERT_TRUE(waitFor([&] { return downloader.unread(port) == 0; })) << "the pedal reads the request";
    const double cpuBefore = cpuSeconds(pedal.pid);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(downloader.send(""));
    ASSERT_TRUE(waitFor([&] { return downloader.unread(port) == 0; })) << "the pedal reads the request's end";
    const auto otherStart = std::chrono::steady_clock::now();
    EXPECT_NE(other.ask(name), "");
    const double otherTime = secondsSince(otherStart);
    const std::string reply = downloader.receive();
    const double replyTime = secondsSince(start), cpu = cpuSeconds(pedal.pid) - cpuBefore;
    EXPECT_EQ(reply.rfind("dread root\\ir_list:{\"index\":0,", 0), 0u) << reply.substr(0, 100);
    EXPECT_EQ(reply.find("dread", 1), std::string::npos) << "one piece";
    EXPECT_LE(replyTime, 0.5);
    EXPECT_LE(otherTime, 0.5);
    EXPECT_LE(cpu, 0.5);
}

// With a password, every TCP connection answers its own token: a client that reconnects with its old token is
// refused once without counting as a guess; two clients writing in turn never fail; and a right answer passes
// within 2 s, ten times out of ten, while another connection guesses as fast as it is answered.
TEST(PedalProductProcess, EachConnectionAnswersItsOwnToken) {
    const std::string home = boardtest::ownHome();
    const int port = freePort();
    FullApplication pedal(home, port);
    ASSERT_TRUE(startAndBrowse(pedal, port, home));
    const std::string password = "s3cret";
    ASSERT_NE(request(port, "write root\\sys\\pwd:{\"value\":\"" + password + "\"}"), "");
    int written = 0;
    auto write = [&](Connection& connection) {
        const std::string line = "root\\sys\\alias:{\"value\":\"w" + std::to_string(++written) + "\"}";
        return connection.answer(password, "write " + line).substr(23);
    };
    std::string oldToken;
    {
        Connection closed(port);
        closed.ask("token -");
        oldToken = closed.token;
    }
    Connection reconnected(port), other(port);
    reconnected.token = oldToken;
    EXPECT_EQ(write(reconnected), "n\r\n") << "the old connection's token";
    EXPECT_EQ(write(reconnected), "y\r\nroot\\sys\\alias:{\"value\":\"w2\"}\r\n");
    EXPECT_FALSE(pedal.logHas("wrong password answer")) << pedal.logText();
    other.ask("token -");
    for (int k = 0; k < 10; ++k) EXPECT_EQ(write(k % 2 ? reconnected : other).substr(0, 1), "y") << "write " << k;

    std::atomic<bool> stop{false};
    std::thread guesser([&] {
        Connection connection(port);
        while (!stop && connection.ask("token 0123456789ABCDEF") != "") {}
    });
    EXPECT_TRUE(waitFor([&] { return pedal.logHas("wrong password answer"); })) << "the guesses are refused";
    for (int k = 0; k < 10; ++k) {
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(write(other).substr(0, 1), "y") << "write " << k;
        EXPECT_LE(secondsSince(start), 2.0) << "write " << k;
    }
    stop = true;
    guesser.join();
}

// Two downloads of a preset overlap while it is replaced by another under a new name: each is one whole
// version with its own name; a download that starts over gets the new one.
TEST(PedalProductProcess, OverlappingDownloadsEachGetOneVersion) {
    const std::string home = boardtest::ownHome();
    const int port = freePort();
    FullApplication pedal(home, port);
    ASSERT_TRUE(startAndBrowse(pedal, port, home));
    const std::string presets = "root\\presets", one(6600, '1'), two(5000, '2');
    ASSERT_NE(uploadSlot(port, presets, 0, "One", one, false).find("\"index\":0"), std::string::npos);
    Connection first(port), second(port);
    std::string firstText = slotText(first, presets, 0, 0, 0);
    ASSERT_NE(uploadSlot(port, presets, 0, "Two", two, false).find("\"index\":0"), std::string::npos);
    std::string secondText = slotText(second, presets, 0, 0, 0);
    firstText += slotText(first, presets, 0, 1);
    secondText += slotText(second, presets, 0, 1);
    auto shape = [](const std::string& text) {
        return text.substr(0, 5) + "... " + std::to_string(text.size()) + " bytes";
    };
    EXPECT_TRUE(firstText == "One=" + one) << shape(firstText);
    EXPECT_TRUE(secondText == "Two=" + two) << shape(secondText);
    EXPECT_TRUE(slotText(first, presets, 0) == "Two=" + two) << "starting over";
}

// A swap whose file move fails (a folder stands where a slot file goes) is finished before the list stores
// anything else, so a later upload is not undone at the next start; a staged file a kill left is removed.
TEST(PedalProductProcess, ASwapThatCouldNotFinishNeverUndoesALaterUpload) {
    const std::string home = boardtest::ownHome();
    const std::string presets = "root\\presets";
    const std::string blocked = storageFile(home, presets + "\\2"),
                      leftover = storageFile(home, presets + "\\3") + ".swap.tmp";
    std::filesystem::create_directories(blocked);
    boardtest::writeFile(leftover, "half", std::filesystem::perms(0644));
    std::string swapped;
    {
        const int port = freePort();
        FullApplication pedal(home, port);
        ASSERT_TRUE(startAndBrowse(pedal, port, home));
        EXPECT_FALSE(std::filesystem::exists(leftover)) << "removed at start";
        ASSERT_NE(uploadSlot(port, presets, 3, "C", "c", false), "");
        swapped = request(port, "dswap " + presets + ":{\"index\":2,\"index2\":3}");
        EXPECT_TRUE(pedal.logHas("Cannot move")) << pedal.logText();
        std::filesystem::remove(blocked);
        EXPECT_EQ(uploadSlot(port, presets, 3, "D", "d", false), "dwrite " + presets + ":{\"index\":3,\"chunk\":1}");
        EXPECT_EQ(pedal.stop(), 0);
    }
    const int port = freePort();
    FullApplication pedal(home, port);
    ASSERT_TRUE(startAndBrowse(pedal, port, home));
    Connection reader(port);
    EXPECT_EQ(slotText(reader, presets, 2), swapped.empty() ? "=" : "C=c") << "the swap's reply: " << swapped;
    EXPECT_EQ(slotText(reader, presets, 3), "D=d");
}

// Both players on a model in the selected preset: two offline renders of the same 10 s are the same to the bit.
TEST(PedalProductProcess, TwoOfflineRendersWithBothPlayersOnAreTheSame) {
    const std::string home = boardtest::ownHome();
    {
        const int port = freePort();
        FullApplication pedal(home, port);
        ASSERT_TRUE(startAndBrowse(pedal, port, home));
        for (const std::string player : {"amp", "drive"}) {
            ASSERT_NE(uploadSlot(port, "root\\nam_" + player, 0, "M", silentModel(2, 2, uint32_t(player.size()))), "");
            request(port, "write root\\app\\" + player + "\\model:{\"value\":\"M\"}");
            request(port, "write root\\app\\" + player + "\\on_off:{\"value\":\"ON\"}");
        }
        request(port, "write root\\app\\preset:{\"value\":\"Both\",\"save\":\"save\"}");
        request(port, "write root\\app\\preset:{\"value\":\"Both\"}"); // selected at the next start
        EXPECT_EQ(pedal.stop(), 0);
    }
    boardtest::writeFile(home + "/in.wav", noiseWav(48000 * 10), std::filesystem::perms(0644));
    std::vector<float> renders[2];
    for (int run = 0; run < 2; ++run) {
        const std::string output = home + "/render" + std::to_string(run) + ".wav";
        FullApplication pedal(home, freePort(),
                              {"PEDAL_CODEC=file", "PEDAL_CODEC_OFFLINE=1", "PEDAL_CODEC_IN=" + home + "/in.wav",
                               "PEDAL_CODEC_OUT=" + output});
        EXPECT_TRUE(waitFor([&] { return outputSoFar(output).size() >= 48000 * 10; }, 120)) << pedal.logText();
        renders[run] = outputSoFar(output);
        EXPECT_EQ(pedal.stop(), 0);
    }
    EXPECT_GT(rms(renders[0], 0, renders[0].size()), 1e-3) << "the players play";
    EXPECT_TRUE(renders[0] == renders[1]) << "the renders differ";
}

}
