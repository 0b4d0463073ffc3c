// Controller sources and bindings: MIDI over a real pseudo-terminal, MIDI clock tempo, the multi controller's
// learn and link mapping, and the analog source's hysteresis.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

#include "core/Control.h"
#include "core/NodeControl.h"
#include "core/NodeControlMidiCC.h"
#include "core/NodeControlMidiPC.h"
#include "core/NodeControlMidiTempo.h"
#include "core/NodeControlMulti.h"
#include "core/NodeEnum.h"
#include "core/NodeFloat.h"
#include "core/NodeItem.h"
#include "core/NodeList.h"
#include "core/NodeOnOff.h"
#include "core/NodeParList.h"
#include "core/NodePreset.h"
#include "porting/Shims.h"
#include "core/SourceCtrl.h"
#include "core/SourceMidi.h"
#include "core/System.h"

namespace fs = std::filesystem;
using Type = ControlMessage::Type;

namespace {
// Records every event it is handed, from any source on any channel.
class Recorder : public NodeControl {
public:
    struct Event {
        Type type;
        int channel, number, value;
        bool operator==(const Event&) const = default;
    };
    explicit Recorder(Node* parent) : NodeControl(parent, "recorder", "Recorder", nullptr) {}
    void receive(Source&, const ControlMessage& m) override {
        events.push_back({m.type, m.channel, m.number, m.value});
    }
    std::vector<Event> events;
};

std::vector<const char*> channelOptions() {
    static const char* names[] = {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11", "12", "13", "14", "15"};
    return std::vector<const char*>(names, names + 16);
}

// A pseudo-terminal whose slave appears as <dev root>/dev/ttyMIDI.
struct Pty {
    int master = -1;
    Pty() {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        EXPECT_GE(master, 0);
        EXPECT_EQ(grantpt(master), 0);
        EXPECT_EQ(unlockpt(master), 0);
        const std::string root = std::string(std::getenv("PEDAL_HOME")) + "/dev-root";
        fs::remove_all(root);
        fs::create_directories(root + "/dev");
        fs::create_symlink(ptsname(master), root + "/dev/ttyMIDI");
        setenv("PEDAL_DEV_ROOT", root.c_str(), 1);
    }
    ~Pty() { close(master); }
    void write(const std::vector<uint8_t>& bytes) const {
        ASSERT_EQ(::write(master, bytes.data(), bytes.size()), ssize_t(bytes.size()));
    }
};

// The kernel hands pty bytes over on its own worker: poll until the recorder has seen count events.
bool pollUntil(Source& source, const Recorder& recorder, size_t count) {
    for (int tries = 0; tries < 2000 && recorder.events.size() < count; ++tries) {
        source.tasks();
        if (recorder.events.size() < count) vTaskDelay(1000);
    }
    return recorder.events.size() >= count;
}

int64_t fakeNow = 0;
}

// The bindings' table, its bytes written to a real pseudo-terminal or fed to the parser straight (which also
// runs where the terminal's serial set-up is missing, as under user-mode QEMU).
namespace {
void bindingSteps(bool overPty) {
    unsetenv("PEDAL_DEV_ROOT");
    std::optional<Pty> pty;
    if (overPty) pty.emplace();
    SourceMidi midi("midi", "MIDI", "/dev/ttyMIDI", 0, 0);
    ASSERT_EQ(midi.isOpen(), overPty);
    EXPECT_EQ(Control::getSource("midi"), &midi);

    auto* root = new NodeItem(nullptr, "root", "Root", "", "vfolder");
    auto* channel = new NodeEnum(root, "midi_a", "MIDI Address", channelOptions(), "0");
    channel->setValue("13"); // status bytes 0xBD / 0xCD: their low bits are 0x0D
    auto* presets = new NodeList(root, "presets", "Presets", "pst_pst", 256, 4);
    auto* app = new NodeItem(root, "app", "App", "", "vfolder");
    auto* preset = new NodePreset(app, "preset", "Preset", "", presets);
    auto* level = new NodeFloat(app, "level", "Level", 0, 127, 0, "", 0.5f, false, 0);
    auto* sw = new NodeOnOff(app, "sw", "Switch", NodeOnOff::OFF);
    auto* recorder = new Recorder(root);
    auto* ccLevel = new NodeControlMidiCC(root, "_cc17", "Midi CC", level, 0x11, channel);
    new NodeControlMidiCC(root, "_cc19", "Midi CC", sw, 0x13, channel);
    new NodeControlMidiPC(root, "cpst", "Midi PC", preset, 0, channel);
    auto* irs = new NodeList(root, "irs", "IRs", "wav", 64, 4);
    auto* ir = new NodeParList(root, "ir", "IR", "", irs);
    new NodeControlMidiPC(root, "cir", "Midi PC", ir, 0, channel);
    ASSERT_TRUE(irs->setElementAt(2, "Cab", nullptr));
    for (const char* name : {"P0", "P1", "P2"}) {
        ASSERT_TRUE(preset->setValue(std::string(name) + NodePreset::SAVE_SUFFIX));
    }

    struct Step {
        const char* what;
        std::vector<uint8_t> bytes;
        std::vector<Recorder::Event> events; // what every binding is handed
        std::function<void()> check;
    };
    // The on/off threshold, the channel filter and an empty slot's program are the product's MIDI tests.
    const std::vector<Step> steps = {
        {"CC with the bytes CR, XON and XOFF",
         {0xBD, 0x11, 0x13},
         {{Type::ControlChange, 13, 0x11, 0x13}},
         [&] { EXPECT_FLOAT_EQ(level->getValue(), 0x13); }},
        {"running status",
         {0x11, 0x7F, 0x11, 0x0D},
         {{Type::ControlChange, 13, 0x11, 0x7F}, {Type::ControlChange, 13, 0x11, 0x0D}},
         [&] { EXPECT_FLOAT_EQ(level->getValue(), 0x0D); }},
        {"real-time bytes inside a message",
         {0xBD, 0xF8, 0x11, 0xFA, 0x40},
         {{Type::Clock, 0, 0, 0}, {Type::Start, 0, 0, 0}, {Type::ControlChange, 13, 0x11, 0x40}},
         [&] { EXPECT_FLOAT_EQ(level->getValue(), 0x40); }},
        {"SysEx is skipped and cancels running status",
         {0xF0, 0x11, 0x13, 0x0D, 0xF7, 0x11, 0x22, 0xBD, 0x13, 0x40},
         {{Type::ControlChange, 13, 0x13, 0x40}},
         [&] { EXPECT_EQ(sw->getValue(), "ON"); }},
        {"program change to a slot",
         {0xCD, 0x02},
         {{Type::ProgramChange, 13, 2, 0}},
         [&] {
             EXPECT_EQ(preset->getValue(), "P2");
             EXPECT_EQ(ir->getValue(), "Cab") << "a plain selector takes the slot's name";
         }},
        {"program change, running status",
         {0x01},
         {{Type::ProgramChange, 13, 1, 0}},
         [&] { EXPECT_EQ(preset->getValue(), "P1"); }},
        {"song position skipped",
         {0xF2, 0x11, 0x13, 0xCD, 0x00},
         {{Type::ProgramChange, 13, 0, 0}},
         [&] { EXPECT_EQ(preset->getValue(), "P0"); }},
        {"inactive binding",
         {0xBD, 0x11, 0x01},
         {{Type::ControlChange, 13, 0x11, 0x01}},
         [&] { EXPECT_FLOAT_EQ(level->getValue(), 0x40); }},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        if (std::string(step.what) == "inactive binding") {
            EXPECT_FALSE(root->parseJSON("root\\_cc17:{\"value\":\"OFF\"}")) << "'_' bindings are not written remotely";
            ccLevel->setActive(false);
            level->setValue(0x40); // the preset loads above reset it
        }
        recorder->events.clear();
        if (pty) {
            pty->write(step.bytes);
            ASSERT_TRUE(pollUntil(midi, *recorder, step.events.size()));
            midi.tasks();
        } else {
            midi.feed(step.bytes.data(), step.bytes.size(), 0);
        }
        EXPECT_EQ(recorder->events, step.events);
        step.check();
    }
    EXPECT_FALSE(ccLevel->isActive());
    delete root;
}
}

TEST(SourceMidi, BindingsOverARealPseudoTerminal) { bindingSteps(true); }

TEST(SourceMidi, BindingsFromBytesFedToTheParser) { bindingSteps(false); }

TEST(SourceMidi, ClockGivesTheTempo) {
    porting::setClock([] { return fakeNow; });
    Pty pty;
    SourceMidi midi("midi", "MIDI", "/dev/ttyMIDI", 0, 0);
    ASSERT_TRUE(midi.isOpen());
    NodeItem root(nullptr, "root", "Root", "", "vfolder");
    auto* tempo = new NodeFloat(&root, "_midi_bpm", "MIDI Tempo", 30, 300, 120, "BPM", 0.5f, false, 1);
    tempo->setValue(60);
    auto* clock = new NodeControlMidiTempo(&root, "midi_clk", "MIDI Clock", tempo);
    auto* recorder = new Recorder(&root);

    // 120 BPM over the pty: one pulse every 500000/24 us, each read at its own (fake) time.
    const double period = 500000.0 / 24;
    for (int k = 0; k < 30; ++k) {
        fakeNow = 1000000 + int64_t(std::llround(k * period));
        pty.write({0xF8});
        ASSERT_TRUE(pollUntil(midi, *recorder, size_t(k + 1)));
        if (k < 24) {
            EXPECT_FLOAT_EQ(tempo->getValue(), 60) << "one whole beat first";
        }
    }
    EXPECT_FLOAT_EQ(clock->getBpm(), 120.0f);
    EXPECT_FLOAT_EQ(tempo->getValue(), 120.0f);

    // The 10 ms poll quantises the read times; the fit over four beats still holds the tempo. A gap of more than
    // a second starts a new measurement.
    struct Case {
        double bpm;
        int64_t quantum;
    };
    int64_t now = 10000000;
    for (const Case& c : std::vector<Case>{{100, 10000}, {137.5, 10000}, {60, 10000}}) {
        now += 2000000;
        const double step = 60e6 / c.bpm / 24;
        for (int k = 0; k < 120; ++k) {
            const int64_t t = now + int64_t(k * step);
            const uint8_t pulse = 0xF8;
            midi.feed(&pulse, 1, (t + c.quantum - 1) / c.quantum * c.quantum);
        }
        now += int64_t(120 * step);
        EXPECT_NEAR(tempo->getValue(), c.bpm, 0.15) << c.bpm;
    }
    porting::setClock({});
}

TEST(NodeControlMulti, LearnsAndMapsItsLinks) {
    System::initialize("ControlTest");
    Node* root = System::rootNode();
    Node* app = System::appNode();
    auto* channel = new NodeEnum(root, "midi_a", "MIDI Address", channelOptions(), "0");
    auto* presets = new NodeList(root, "presets", "Presets", "pst_pst", 4096, 4);
    auto* preset = new NodePreset(app, "preset", "Preset", "", presets);
    auto* fx = new NodeItem(app, "fx", "FX", "", "hfolder");
    auto* gain = new NodeFloat(fx, "gain", "Gain", 0, 10, 5, "", 0.5f, false, 1);
    auto* sw = new NodeOnOff(fx, "on_off", "Enable", NodeOnOff::ON);
    gain->setLinkable(true);
    sw->setLinkable(true);
    auto* home = new NodeItem(app, "ctl1", "Controller 1", "mctrl", "module");
    auto* multi = new NodeControlMulti(root, "multi1", "Control", channel, home, preset, 3);
    SourceMidi midi("midi", "MIDI", "/dev/ttyNone", 0, 0); // no device: fed directly
    EXPECT_FALSE(midi.isOpen());
    int reading = -1;
    SourceCtrl pedal("ctrl", "Pedal", 0, [&](int) { return reading; });

    ASSERT_EQ(multi->getLinkCount(), 3);
    for (const char* line : {"link1\\target:{\"value\":\"root\\\\app\\\\fx\\\\gain\"}", "link1\\min:{\"value\":20}",
                             "link1\\max:{\"value\":80}", "link2\\target:{\"value\":\"root\\\\app\\\\fx\\\\on_off\"}",
                             "link2\\min:{\"value\":100}", "link2\\max:{\"value\":0}"})
        ASSERT_TRUE(root->parseJSON(std::string("root\\app\\ctl1\\") + line)) << line;
    EXPECT_FALSE(root->parseJSON("root\\app\\ctl1\\status:{\"value\":\"forged\"}")) << "status is the controller's";

    auto cc = [&](int ch, int number, int value) {
        const uint8_t bytes[] = {uint8_t(0xB0 | ch), uint8_t(number), uint8_t(value)};
        midi.feed(bytes, 3, 0);
    };
    auto pedalAt = [&](int value) {
        reading = value;
        Control::tasks();
    };
    struct Step {
        const char* what;
        std::function<void()> action;
        float gain;
        const char* sw;
        int address;
        const char* status;
    };
    const std::vector<Step> steps = {
        {"address 0 before learning", [&] { cc(0, 20, 127); }, 5, "ON", 0, ""},
        {"learn the next control change",
         [&] {
             multi->getLearnNode()->setOn(true);
             cc(0, 20, 127);
         },
         8, "OFF", 20, "CC 20: 127"},
        {"learned number at zero", [&] { cc(0, 20, 0); }, 2, "ON", 20, "CC 20: 0"},
        {"middle", [&] { cc(0, 20, 64); }, 2 + 6 * 64 / 127.0f, "OFF", 20, "CC 20: 64"},
        {"another number", [&] { cc(0, 21, 127); }, 2 + 6 * 64 / 127.0f, "OFF", 20, "CC 20: 64"},
        {"another channel", [&] { cc(5, 20, 127); }, 2 + 6 * 64 / 127.0f, "OFF", 20, "CC 20: 64"},
        {"the pedal is no MIDI", [&] { pedalAt(4095); }, 2 + 6 * 64 / 127.0f, "OFF", 20, "CC 20: 64"},
        {"pedal as the source",
         [&] {
             multi->getSourceNode()->setValue("CTRL");
             pedalAt(0);
         },
         2, "ON", 20, "CTRL 0"},
        {"MIDI ignored then", [&] { cc(0, 20, 127); }, 2, "ON", 20, "CTRL 0"},
        {"pedal up", [&] { pedalAt(4095); }, 8, "OFF", 20, "CTRL 255"},
        {"binding off",
         [&] {
             multi->setActive(false);
             pedalAt(0);
         },
         8, "OFF", 20, "CTRL 255"},
    };
    for (const Step& s : steps) {
        s.action();
        EXPECT_NEAR(gain->getValue(), s.gain, 1e-4) << s.what;
        EXPECT_EQ(sw->getValue(), s.sw) << s.what;
        EXPECT_EQ(int(multi->getAddressNode()->getValue()), s.address) << s.what;
        EXPECT_EQ(multi->getStatusNode()->getValue(), s.status) << s.what;
        EXPECT_FALSE(multi->getLearnNode()->isOn()) << s.what;
    }
    EXPECT_EQ(
        multi->getJSON(DESC_FULL, false),
        "root\\multi1:{\"type\":\"ctrl\",\"name\":\"Control\",\"value\":\"OFF\",\"source\":\"ctrl\",\"number\":20,"
        "\"channel\":0,\"target\":\"root\\\\app\\\\ctl1\"}");

    // The preset carries the assignment, not the learn switch or the status.
    const std::string text = preset->presetText();
    EXPECT_NE(text.find("root\\app\\ctl1\\address:{\"value\":20.0}"), std::string::npos);
    EXPECT_NE(text.find("root\\app\\ctl1\\link1\\target:{\"value\":\"root\\\\app\\\\fx\\\\gain\"}"), std::string::npos);
    EXPECT_EQ(text.find("learn"), std::string::npos);
    EXPECT_EQ(text.find("status"), std::string::npos);
}

TEST(SourceCtrl, SendsChangesWithHysteresisAndSkipsMissingReadings) {
    NodeItem root(nullptr, "root", "Root", "", "vfolder");
    auto* recorder = new Recorder(&root);
    int reading = 0;
    int polledChannel = -1;
    auto* pedal = new SourceCtrl("ctrl", "Pedal", 2, [&](int ch) {
        polledChannel = ch;
        return reading;
    });

    struct Case {
        int reading;
        int sent; // -1: nothing sent
    };
    const std::vector<Case> cases = {
        {-1, -1},    {2048, 128}, {2063, -1}, {2064, -1},  {2047, -1}, {2080, 130}, {-5, -1},
        {2070, -1},  {2032, 127}, {16, 1},    {0, 0},      {15, -1},   {31, -1},    {32, 2},
        {5000, 255}, {4080, -1},  {4064, -1}, {4031, 251}, {-100, -1},
    };
    for (const Case& c : cases) {
        recorder->events.clear();
        reading = c.reading;
        Control::tasks();
        if (c.sent < 0) {
            EXPECT_TRUE(recorder->events.empty()) << c.reading;
        } else {
            ASSERT_EQ(recorder->events.size(), 1u) << c.reading;
            EXPECT_EQ(recorder->events[0], (Recorder::Event{Type::Analog, 0, 2, c.sent})) << c.reading;
        }
    }
    EXPECT_EQ(polledChannel, 2);
    delete pedal; // its registration by name is the board's bring-up test
}
