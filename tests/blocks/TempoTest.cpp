// Tap tempo (timing, status after the fourth tap, disarm) and the lock following tempo sources.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "tests/blocks/BlockTestSupport.h"
#include "core/NodeControlMidiTempo.h"
#include "core/NodeFloat.h"
#include "core/NodeList.h"
#include "core/NodeOnOff.h"
#include "core/NodePreset.h"
#include "porting/Shims.h"
#include "blocks/Tempo.h"

using blocktest::settle;

namespace {

class TempoTest : public testing::Test {
protected:
    void SetUp() override {
        porting::setClock([this] { return now; });
        Node* root = blocktest::testRoot();
        Node* app = new NodeItem(root, "app", "app", "", "vfolder");
        preset =
            new NodePreset(app, "preset", "Preset", "", new NodeList(root, "presets", "Presets", "pst_pst", 16384, 4));
        output = blocktest::folder(app, "output");
        tempo = new Tempo(output, preset);
    }
    void TearDown() override {
        delete tempo;
        porting::setClock({});
    }
    void tapAt(int64_t microseconds) {
        now = microseconds;
        tempo->manualTap();
    }

    int64_t now = 1000000000;
    NodePreset* preset = nullptr;
    Node* output = nullptr;
    Tempo* tempo = nullptr;
};

TEST_F(TempoTest, FolderStartsWithTheTempoAndItsNodesStayOutOfPresets) {
    ASSERT_GT(output->childrenCount(), 0);
    EXPECT_STREQ(output->childrenAt(0)->getName(), "tempo_bpm");
    EXPECT_EQ(output->childrenAt(0), tempo->getTempoNode());
    EXPECT_EQ(tempo->toString(), "120.0");
    EXPECT_NE(tempo->getTempoNode()->getSyncState(), Storable::SyncState::Unregistered) << "kept across a restart";
    const std::string text = preset->presetText();
    EXPECT_EQ(text.find("tempo_bpm"), std::string::npos) << text;
    EXPECT_EQ(text.find("tempo_lock"), std::string::npos) << text;
}

TEST_F(TempoTest, TapsSetTheTempoFromTheFourthOn) {
    struct Case {
        std::vector<int64_t> intervalsUs;
        float expected; // tempo after the last tap; 0: unchanged
        bool status;
    };
    const Case cases[] = {
        {{500000}, 0.0f, false},
        {{500000, 500000}, 0.0f, false},
        {{500000, 500000, 500000}, 120.0f, true}, // the fourth tap
        {{400000, 400000, 400000, 400000}, 150.0f, true},
        {{600000, 500000, 400000}, 120.0f, true},                            // mean of three intervals
        {{1000000, 1000000, 1000000, 500000, 500000, 500000}, 120.0f, true}, // the last three count
        {{200000, 200000, 200000}, 240.0f, true},                            // clamped at the top
        {{2000000, 2000000, 2000000}, 30.0f, true},
        {{333333, 333333, 333334}, 180.0f, true},
    };
    for (const Case& c : cases) {
        tempo->getTempoNode()->setValue(100.0f);
        now += 10000000; // disarmed
        tapAt(now);
        EXPECT_FALSE(tempo->manualStatus());
        for (int64_t interval : c.intervalsUs) tapAt(now + interval);
        EXPECT_EQ(tempo->manualStatus(), c.status) << c.intervalsUs.size() + 1 << " taps";
        EXPECT_FLOAT_EQ(tempo->getBpm(), c.expected == 0.0f ? 100.0f : c.expected) << c.intervalsUs.size() + 1;
    }
}

TEST_F(TempoTest, DisarmsTwoAndAHalfSecondsAfterTheLastTap) {
    for (int i = 0; i < 5; ++i) tapAt(now + 500000);
    ASSERT_TRUE(tempo->manualStatus());
    now += Tempo::kTapDisarmUs;
    EXPECT_TRUE(tempo->manualStatus()) << "still armed at exactly 2.5 s";
    now += 1;
    EXPECT_FALSE(tempo->manualStatus());
    EXPECT_EQ(tempo->getTapCount(), 0);
    // The next tap arms again and counts from one: the old taps do not mix in.
    tempo->getTempoNode()->setValue(100.0f);
    tapAt(now + 1000);
    tapAt(now + 300000);
    tapAt(now + 300000);
    EXPECT_FALSE(tempo->manualStatus());
    EXPECT_FLOAT_EQ(tempo->getBpm(), 100.0f);
    // A pause longer than 2.5 s within the taps starts a new count.
    tapAt(now + 2600000);
    EXPECT_EQ(tempo->getTapCount(), 1);
}

TEST_F(TempoTest, LockFollowsTheSourceChangedLast) {
    NodeFloat* presetTempo = new NodeFloat(output, "tmp", "Preset TEMPO", 30, 240, 120, "BPM", 0.5f, false, 1);
    tempo->addTempoSource(presetTempo, "Preset");
    settle();
    presetTempo->setValue(95.5f);
    settle();
    EXPECT_FLOAT_EQ(tempo->getBpm(), 95.5f);
    EXPECT_EQ(tempo->toString(), "95.5");
    // A tap wins over the source until the source changes again.
    for (int i = 0; i < 4; ++i) tapAt(now + 500000);
    settle();
    EXPECT_FLOAT_EQ(tempo->getBpm(), 120.0f);
    presetTempo->setValue(80.0f);
    settle();
    EXPECT_FLOAT_EQ(tempo->getBpm(), 80.0f);
    // The MIDI clock's measured tempo is a source like any other.
    ASSERT_NE(tempo->getMidiClock(), nullptr);
    Node* clock = output->pathToNode(output->getPath() + "\\_midi_bpm");
    ASSERT_NE(clock, nullptr);
    static_cast<NodeFloat*>(clock)->setValue(132.0f);
    settle();
    EXPECT_FLOAT_EQ(tempo->getBpm(), 132.0f);
    // Unlocked, source changes are ignored; locking again takes the source changed last.
    tempo->getLockNode()->setOn(false);
    settle();
    presetTempo->setValue(70.0f);
    settle();
    EXPECT_FLOAT_EQ(tempo->getBpm(), 132.0f);
    tempo->getLockNode()->setOn(true);
    settle();
    EXPECT_FLOAT_EQ(tempo->getBpm(), 70.0f);
}

}
