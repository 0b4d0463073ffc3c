// The product application: its tree against the golden description, the chain's processing order, the MIDI
// bindings, presets, the stored settings across a restart and the output gains of its compile pass.
//
// Every case builds the product in a forked child (System and the block ring are process-wide and built once),
// so the cases are independent whichever way the binary is run.
#include "audio/AudioBlock.h"
#include "audio/AudioProcessor.h"
#include "tests/board/BoardTestSupport.h"
#include "porting/CommandRunner.h"
#include "core/Control.h"
#include "nolt/driver/IOArray.h"
#include "board/Lindquar.h"
#include "blocks/Mixer.h"
#include "core/Node.h"
#include "core/NodeColor.h"
#include "core/NodeEnum.h"
#include "core/NodeFloat.h"
#include "core/NodeItem.h"
#include "core/NodeList.h"
#include "core/NodeOnOff.h"
#include "core/NodePreset.h"
#include "blocks/Pickup.h"
#include "porting/RecordingCommandRunner.h"
#include "blocks/RedIzuzir.h"
#include "core/SourceMidi.h"
#include "tests/nolt/driver/SimulatedChain.h"
#include "core/Storage.h"
#include "core/System.h"

#include <gtest/gtest.h>

#include <cmath>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Product {
    Lindquar* lindquar;
    Node* root;

    Node* node(const std::string& path) const {
        Node* found = root->pathToNode(path);
        EXPECT_NE(found, nullptr) << path;
        return found;
    }
    template <class T>
    T* as(const std::string& path) const {
        T* typed = dynamic_cast<T*>(node(path));
        EXPECT_NE(typed, nullptr) << path;
        return typed;
    }
};

// Builds the product in a forked child with the test's own home (kept as it is, so a second run sees what
// the first stored) and runs the body there. The child's failures are printed by the framework in the child;
// the parent sees "ok" or "failed".
std::string inProduct(const std::function<void(Product&)>& body) {
    return boardtest::inChild([&] {
        CommandRunner::install(std::make_shared<RecordingCommandRunner>());
        System::initialize("LindquarTest");
        Product product{new Lindquar(System::appNode(), System::rootNode()), System::rootNode()};
        body(product);
        return testing::Test::HasFailure() ? std::string("failed") : std::string("ok");
    });
}

void expectInProduct(const std::function<void(Product&)>& body) {
    const std::string result = inProduct(body);
    EXPECT_EQ(result, "ok") << "the failures of the product's process are listed above";
}

std::vector<std::string> goldenLines() {
    std::ifstream file(std::string(PEDAL_TEST_DATA) + "/product-tree.txt");
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);) {
        if (!line.empty()) lines.push_back(line);
    }
    return lines;
}

std::string pathOf(const std::string& entry) { return entry.substr(0, entry.find(':')); }

std::vector<std::string> childNames(const Node* node) {
    std::vector<std::string> names;
    for (const Node* child : node->getChildren()) names.push_back(child->getName());
    return names;
}

// Breadth-first, the order of every description and of the preset text.
std::vector<const Node*> breadthFirst(const Node* root) {
    std::vector<const Node*> order;
    std::deque<const Node*> queue{root};
    while (!queue.empty()) {
        const Node* node = queue.front();
        queue.pop_front();
        order.push_back(node);
        for (const Node* child : node->getChildren()) queue.push_back(child);
    }
    return order;
}

SourceMidi* midiSource() {
    auto* midi = dynamic_cast<SourceMidi*>(Control::getSource("midi"));
    EXPECT_NE(midi, nullptr);
    return midi;
}

void sendMidi(std::initializer_list<uint8_t> bytes) {
    const std::vector<uint8_t> message(bytes);
    midiSource()->feed(message.data(), message.size(), 0);
}

TEST(Lindquar, TreeMatchesTheGoldenDescription) {
    boardtest::ownHome();
    expectInProduct([](Product& product) {
        const std::vector<std::string> golden = goldenLines();
        ASSERT_EQ(golden.size(), 49u);
        std::set<std::string> goldenPaths;
        for (const auto& line : golden) goldenPaths.insert(pathOf(line));

        // Every product node, described as "browse" describes it, in breadth-first order.
        std::vector<std::string> described;
        for (const Node* node : breadthFirst(product.root)) {
            if (goldenPaths.count(node->getPath())) described.push_back(node->getEntry(DESC_FULL));
        }
        ASSERT_EQ(described.size(), golden.size());
        for (size_t i = 0; i < golden.size(); ++i) EXPECT_EQ(described[i], golden[i]);

        // Folders that only the product fills hold nothing else.
        const std::map<std::string, std::vector<std::string>> exactChildren = {
            {"root\\app",
             {"preset", "gate", "exp", "comp", "mod_pre", "drive", "amp", "ir", "mod", "delay", "reverb", "output"}},
            {"root\\settings", {"tuner", "input", "misc"}},
            {"root\\settings\\input", {"gain1", "gain2", "pickup"}},
            {"root\\settings\\misc", {"midi_a", "lift", "headp"}},
            {"root\\app\\output\\pst", {"level", "tmp", "color", "ctl1", "ctl2"}},
        };
        for (const auto& [path, names] : exactChildren) {
            EXPECT_EQ(childNames(product.node(path)), names) << path;
        }
        // The master folder holds the tempo's own nodes first, then the product's.
        std::vector<std::string> output = childNames(product.node("root\\app\\output"));
        ASSERT_GE(output.size(), 3u);
        EXPECT_EQ(std::vector<std::string>(output.end() - 3, output.end()),
                  (std::vector<std::string>{"vol", "aux", "pst"}));
        // Beside the product's own items the root holds the system folder and the blocks' slot lists.
        std::vector<std::string> others;
        for (const std::string& name : childNames(product.root)) {
            if (!goldenPaths.count("root\\" + name)) others.push_back(name);
        }
        EXPECT_EQ(others, (std::vector<std::string>{"app", "sys", "nam_amp", "nam_drive", "ir_list"}));
    });
}

TEST(Lindquar, RingRunsInProcessingOrder) {
    boardtest::ownHome();
    expectInProduct([](Product& product) {
        const std::vector<std::pair<std::string, std::string>> expected = {
            {"Pickup", "root\\settings\\input\\pickup"},
            {"Tuner", "root\\settings\\tuner"},
            {"NoiseGate", "root\\app\\gate"},
            {"Expr", "root\\app\\exp"},
            {"DynaComp", "root\\app\\comp"},
            {"ModulationsPre", "root\\app\\mod_pre"},
            {"RedIzuzir", "root\\app\\drive"},
            {"RedIzuzir", "root\\app\\amp"},
            {"Tempo", "root\\app\\output"},
            {"Lindquar", "root\\app"},
            {"IrLoader", "root\\app\\ir"},
            {"ModulationsPost", "root\\app\\mod"},
            {"DelayEngine", "root\\app\\delay"},
            {"ReverbFDN", "root\\app\\reverb"},
            {"Mixer", "root\\app"},
        };
        std::vector<std::pair<std::string, std::string>> ring;
        for (int i = 0; i < AudioBlock::ringCount(); ++i) {
            AudioBlock* block = AudioBlock::ringAt(i);
            ring.emplace_back(block->getName(), block->getFolder()->getPath());
        }
        EXPECT_EQ(ring, expected);
        EXPECT_EQ(AudioBlock::ringAt(9), product.lindquar);
        EXPECT_EQ(AudioBlock::ringAt(14), static_cast<AudioBlock*>(product.lindquar->mixer));
        // The amp player is built first: its worker gets the first player core.
        EXPECT_EQ(product.lindquar->namAmp->getPlayerIndex(), 0);
        EXPECT_EQ(product.lindquar->namDrive->getPlayerIndex(), 1);
    });
}

TEST(Lindquar, ControlChangesSwitchTheirBlocks) {
    boardtest::ownHome();
    expectInProduct([](Product& product) {
        const std::vector<std::string> switches = {
            "root\\app\\drive\\on_off",     "root\\app\\mod_pre\\on_off",    "root\\app\\amp\\on_off",
            "root\\app\\ir\\on_off",        "root\\app\\reverb\\on_off",     "root\\app\\mod\\on_off",
            "root\\app\\mod\\trem\\on_off", "root\\app\\comp\\on_off",       "root\\app\\gate\\on_off",
            "root\\app\\delay\\on_off",     "root\\settings\\tuner\\on_off",
        };
        std::vector<NodeOnOff*> nodes;
        for (const auto& path : switches) nodes.push_back(product.as<NodeOnOff>(path));
        for (NodeOnOff* node : nodes) ASSERT_NE(node, nullptr);
        for (NodeOnOff* node : nodes) node->setOn(false);

        auto onSwitches = [&] {
            std::vector<int> on;
            for (size_t i = 0; i < nodes.size(); ++i) {
                if (nodes[i]->isOn()) on.push_back(int(i) + 1);
            }
            return on;
        };
        for (int cc = 1; cc <= 11; ++cc) {
            sendMidi({0xB0, uint8_t(cc), 127});
            EXPECT_EQ(onSwitches(), std::vector<int>{cc}) << "CC " << cc;
            sendMidi({0xB0, uint8_t(cc), 0});
            EXPECT_EQ(onSwitches(), std::vector<int>{}) << "CC " << cc;
        }

        // The bindings listen on the channel that "midi_a" selects.
        product.as<NodeEnum>("root\\settings\\misc\\midi_a")->setValue("5");
        sendMidi({0xB0, 6, 127});
        EXPECT_EQ(onSwitches(), std::vector<int>{});
        sendMidi({0xB5, 6, 127});
        EXPECT_EQ(onSwitches(), std::vector<int>{6});
    });
}

TEST(Lindquar, ProgramChangeLoadsTheSlotOfItsNumber) {
    boardtest::ownHome();
    expectInProduct([](Product& product) {
        NodeList* presets = product.lindquar->presetList;
        NodePreset* preset = product.lindquar->presetNode;
        auto* level = product.as<NodeFloat>("root\\app\\output\\pst\\level");
        // Preset texts written as a client uploads them: one line per value.
        const std::map<int, float> slots = {{0, -7.5f}, {1, 2.0f}, {4, 11.0f}, {59, -19.0f}};
        for (const auto& [slot, value] : slots) {
            std::ostringstream text;
            text << "root\\app\\output\\pst\\level:{\"value\":" << value << "}";
            ASSERT_TRUE(presets->setElementAt(slot, "P" + std::to_string(slot), text.str().data(), text.str().size()));
        }
        for (const auto& [slot, value] : slots) {
            sendMidi({0xC0, uint8_t(slot)});
            EXPECT_EQ(preset->getValue(), "P" + std::to_string(slot));
            EXPECT_EQ(preset->getIndex(), slot);
            EXPECT_FLOAT_EQ(level->getValue(), value) << "program " << slot;
        }
        // An empty slot, a program past the list, another channel: nothing changes.
        for (auto message :
             {std::vector<uint8_t>{0xC0, 2}, std::vector<uint8_t>{0xC0, 60}, std::vector<uint8_t>{0xC3, 0}}) {
            midiSource()->feed(message.data(), message.size(), 0);
            EXPECT_EQ(preset->getValue(), "P59");
            EXPECT_FLOAT_EQ(level->getValue(), -19.0f);
        }
    });
}

TEST(Lindquar, PresetLoadLeavesTheVolumesAlone) {
    boardtest::ownHome();
    expectInProduct([](Product& product) {
        Lindquar* lindquar = product.lindquar;
        lindquar->level->setValue(5.0f);
        lindquar->presetTempo->setValue(90.0f);
        ASSERT_TRUE(lindquar->presetColor->setValue("FF0000"));
        lindquar->volume->setValue(80.0f);
        lindquar->auxVolume->setValue(20.0f);
        ASSERT_TRUE(lindquar->presetNode->setValue(std::string("Clean") + NodePreset::SAVE_SUFFIX));
        const std::string text = lindquar->presetNode->presetText();
        EXPECT_NE(text.find("root\\app\\output\\pst\\level:"), std::string::npos);
        EXPECT_EQ(text.find("root\\app\\output\\vol:"), std::string::npos);
        EXPECT_EQ(text.find("root\\app\\output\\aux:"), std::string::npos);

        lindquar->level->setValue(-3.0f);
        lindquar->presetTempo->setValue(150.0f);
        lindquar->presetColor->setValue("0000FF");
        lindquar->volume->setValue(10.0f);
        lindquar->auxVolume->setValue(70.0f);
        ASSERT_TRUE(lindquar->presetNode->setValue("Clean"));

        EXPECT_FLOAT_EQ(lindquar->level->getValue(), 5.0f);
        EXPECT_FLOAT_EQ(lindquar->presetTempo->getValue(), 90.0f);
        EXPECT_EQ(lindquar->presetColor->getValue(), "FF0000");
        EXPECT_FLOAT_EQ(lindquar->volume->getValue(), 10.0f);
        EXPECT_FLOAT_EQ(lindquar->auxVolume->getValue(), 70.0f);
    });
}

constexpr int kPanelLines = 16;
constexpr int kPwmDepth = 32;

// Over one PWM period: in how many frames each output line was lit.
std::vector<int> litFrames(sim::SimulatedChain& chain) {
    std::vector<int> lit(kPanelLines, 0);
    chain.takeSent();
    for (int frame = 0; frame < kPwmDepth; ++frame) {
        IOArray::task_send();
        EXPECT_EQ(IOArray::spi_step(), 1);
        IOArray::has_data();
        const std::vector<std::vector<uint8_t>> sent = chain.takeSent();
        if (sent.empty()) continue;
        // Line i travels in bit i % 8 of the frame's byte (last byte first) i / 8.
        for (int line = 0; line < kPanelLines; ++line) {
            if (sent.back()[sent.back().size() - 1 - size_t(line / 8)] & (1u << (line % 8))) ++lit[size_t(line)];
        }
    }
    return lit;
}

TEST(Lindquar, CompileDrivesThePresetLedsAndRelays) {
    boardtest::ownHome();
    expectInProduct([&](Product& product) {
        auto chain = sim::startChain(kPanelLines, 1000, 0, kPwmDepth);

        Lindquar* lindquar = product.lindquar;
        struct Case {
            int slot; // -1: no preset selected
            const char* color;
            const char* lift;
            const char* headphones;
            std::map<int, int> lit; // lines lit in some frames; every other line stays dark
        };
        const Case cases[] = {
            {4, "00AA00", "OFF", "STEREO", {{14, 21}}},
            {2, "FF0000", "OFF", "STEREO", {{0, 31}}},
            {0, "102030", "ON", "STEREO", {{12, 2}, {11, 4}, {10, 6}, {8, kPwmDepth}}},
            {7, "FFFFFF", "OFF", "MONO/L", {{15, 31}, {14, 31}, {13, 31}, {9, kPwmDepth}}},
            {5, "0400F8", "ON", "MONO/L", {{1, 31}, {8, kPwmDepth}, {9, kPwmDepth}}},
            {-1, "FFFFFF", "OFF", "STEREO", {}},
        };
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << "slot " << c.slot << " colour " << c.color);
            if (c.slot >= 0) {
                const std::string text = std::string("root\\app\\output\\pst\\color:{\"value\":\"") + c.color + "\"}";
                ASSERT_TRUE(
                    lindquar->presetList->setElementAt(c.slot, "S" + std::to_string(c.slot), text.data(), text.size()));
                ASSERT_TRUE(lindquar->presetNode->setByIndex(c.slot));
            } else {
                lindquar->presetNode->setValue("");
            }
            ASSERT_EQ(lindquar->presetNode->getIndex(), c.slot);
            product.as<NodeEnum>("root\\settings\\misc\\lift")->setValue(c.lift);
            product.as<NodeEnum>("root\\settings\\misc\\headp")->setValue(c.headphones);
            EXPECT_FALSE(lindquar->compile());

            std::vector<int> expected(kPanelLines, 0);
            for (const auto& [line, frames] : c.lit) expected[size_t(line)] = frames;
            EXPECT_EQ(litFrames(*chain), expected);
        }
    });
}

// The gains from the equations in double precision.
double volumeReference(double percent) { return std::expm1(3.469202 * percent / 100.0) / std::expm1(3.469202); }
double dbReference(double db) { return std::pow(10.0, db / 20.0); }

TEST(Lindquar, CompileSetsTheOutputAndInputGains) {
    boardtest::ownHome();
    expectInProduct([](Product& product) {
        Lindquar* lindquar = product.lindquar;
        EXPECT_EQ(lindquar->getMainGain(), 0.0f);
        EXPECT_EQ(lindquar->getAuxGain(), 0.0f);
        struct Case {
            float volume, level, aux, gain1, gain2;
        };
        const Case cases[] = {
            {100, 0, 100, 0, 0},    {0, 0, 0, 6, 6},       {50, 0, 50, 6, 6},
            {100, 20, 30, -15, 15}, {75, -20, 0, 15, -15}, {10, 6.5f, 90, -3.5f, 2},
        };
        float(*aux)[16] = AudioProcessor::getInput();
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << "volume " << c.volume << " level " << c.level << " aux " << c.aux
                                            << " gain1 " << c.gain1 << " gain2 " << c.gain2);
            lindquar->volume->setValue(c.volume);
            lindquar->level->setValue(c.level);
            lindquar->auxVolume->setValue(c.aux);
            lindquar->gain1->setValue(c.gain1);
            lindquar->gain2->setValue(c.gain2);
            EXPECT_FALSE(lindquar->compile());

            const double main = dbReference(c.level) * volumeReference(c.volume);
            const double second = volumeReference(c.aux);
            EXPECT_NEAR(lindquar->getMainGain(), main, 1e-5 * std::max(1.0, main));
            EXPECT_NEAR(lindquar->getAuxGain(), second, 1e-5);

            // Input 1 through the pickup (off: only its input gain), then the mixer with input 2 as the aux
            // frame's right channel. The gains glide: 0.2 s of frames reach them.
            const double input1 = dbReference(c.gain1) * 1.334;
            const double input2 = second * 1.334 * dbReference(c.gain2);
            for (int pass = 0, last = 600; pass <= last; ++pass) {
                float frame[2][16];
                for (int i = 0; i < 16; ++i) {
                    frame[0][i] = 0.25f;
                    frame[1][i] = 0.5f;
                    aux[0][i] = 0.125f;
                    aux[1][i] = 0.375f;
                }
                Pickup::exec(static_cast<AudioBlock*>(lindquar->pickup), frame);
                if (pass == last) {
                    EXPECT_NEAR(frame[0][15], 0.25 * input1, 1e-5);
                }
                Mixer::exec(static_cast<AudioBlock*>(lindquar->mixer), frame);
                if (pass == last) {
                    EXPECT_NEAR(frame[0][7], main * 0.25 * input1 + input2 * 0.375, 1e-5);
                    EXPECT_NEAR(frame[1][7], main * 0.5 + input2 * 0.375, 1e-5);
                }
            }
        }
    });
}

TEST(Lindquar, StoredSettingsSurviveARestart) {
    boardtest::ownHome();
    const std::vector<std::string> writes = {
        "root\\app\\output\\vol:{\"value\":80}",
        "root\\app\\output\\aux:{\"value\":20}",
        "root\\settings\\input\\gain1:{\"value\":-3.5}",
        "root\\settings\\input\\gain2:{\"value\":9}",
        "root\\settings\\misc\\lift:{\"value\":\"ON\"}",
        "root\\settings\\misc\\headp:{\"value\":\"MONO/L\"}",
        "root\\settings\\misc\\midi_a:{\"value\":\"7\"}",
        "root\\assign2:{\"value\":\"root\\\\app\\\\amp\"}",
        "root\\cpst:{\"value\":\"OFF\"}",
    };
    // First run: the device settings are stored items and what a preset carries is not; change the settings,
    // save and select a preset, and let the storage sweep write everything.
    expectInProduct([&](Product& product) {
        auto stored = [&](const std::string& path) {
            product.node(path);
            return std::filesystem::exists(Storage::folder() + "/" + Storable::keyText(Storable::fnv1a(path)));
        };
        for (const char* path : {"root\\app\\output\\vol", "root\\app\\output\\aux", "root\\assign1", "root\\assign2",
                                 "root\\assign3", "root\\assign4", "root\\app\\preset", "root\\settings\\misc\\midi_a",
                                 "root\\cpst", "root\\settings\\misc\\lift", "root\\settings\\misc\\headp",
                                 "root\\settings\\input\\gain1", "root\\settings\\input\\gain2"})
            EXPECT_TRUE(stored(path)) << path;
        for (const char* path :
             {"root\\app\\output\\pst\\level", "root\\app\\output\\pst\\tmp", "root\\app\\output\\pst\\color",
              "root\\app\\output\\pst\\ctl1", "root\\_cc6", "root\\multi1"})
            EXPECT_FALSE(stored(path)) << path;
        for (const auto& line : writes) EXPECT_TRUE(product.root->parseJSON(line)) << line;
        product.lindquar->level->setValue(4.0f);
        ASSERT_TRUE(product.lindquar->presetNode->setValue(std::string("Live") + NodePreset::SAVE_SUFFIX));
        ASSERT_TRUE(product.lindquar->presetNode->setValue("Live"));
        // Not saved: the restart brings back the preset's value.
        product.lindquar->level->setValue(-9.0f);
        std::vector<Node*> items;
        for (const auto& line : writes) items.push_back(product.node(pathOf(line)));
        items.push_back(product.lindquar->presetNode);
        auto allClean = [&] {
            for (Node* item : items) {
                if (item->getSyncState() != Storable::SyncState::Clean) return false;
            }
            return true;
        };
        for (int step = 0; step < 100000 && !allClean(); ++step) Storage::tasks();
        EXPECT_TRUE(allClean());
    });
    // Second run in the same home.
    expectInProduct([&](Product& product) {
        for (const auto& line : writes) {
            const std::string path = pathOf(line);
            const std::string expected = line.substr(path.size() + 1);
            // Numbers come back in the tree's own notation.
            if (auto* number = dynamic_cast<NodeFloat*>(product.node(path))) {
                EXPECT_FLOAT_EQ(number->getValue(), std::stof(expected.substr(9))) << path;
            } else {
                EXPECT_EQ(product.node(path)->getBody(DESC_VALUE), expected) << path;
            }
        }
        EXPECT_EQ(product.lindquar->presetNode->getValue(), "Live");
        EXPECT_FLOAT_EQ(product.lindquar->level->getValue(), 4.0f);
    });
}

}
