#pragma once
// A tree shaped like the product's for the home and chain screen tests: the preset list and preset node,
// block folders with their on/off switches and colours, the master folder with the tempo, volume and
// level, the tuner, the four assign items, and the start-up pages Home, DrawerTempo and DrawerTuner.
//
// The clock is the test's: `now` advances only when a test moves it. It doubles as the eye of a scripted
// user: every UI pass reads the clock, so the user looks at the screen then and, when the next text of its
// script is shown, presses what that step says. This drives the modal dialogs inside waitModal.
#include "ui/DrawerTempo.h"
#include "ui/DrawerTuner.h"
#include "ui/EventDispatcher.h"
#include "ui/EventId.h"
#include "ui/gfx/GfxTestView.h"
#include "ui/Home.h"
#include "ui/LCD.h"
#include "tests/ui/ListPageDriver.h"
#include "core/NodeEnum.h"
#include "core/NodeFloat.h"
#include "core/NodeItem.h"
#include "core/NodeList.h"
#include "core/NodeOnOff.h"
#include "core/NodePreset.h"
#include "tests/ui/Pages.h"
#include "porting/Shims.h"
#include "blocks/Tempo.h"
#include "blocks/Tuner.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace homescreen {

inline int64_t& now() {
    static int64_t time = 1000000;
    return time;
}

// What the scripted user does: when `text` is on the screen, queue `ids`. Steps run in order, once each.
struct Step {
    std::string text;
    std::vector<int> ids;
};

class ScriptedUser {
public:
    static ScriptedUser& instance() {
        static ScriptedUser user;
        return user;
    }
    void script(std::vector<Step> steps) {
        this->steps = std::move(steps);
        next = 0;
    }
    bool done() const { return next == steps.size(); }
    void look() {
        if (looking || done()) return;
        looking = true;
        const auto views = gfx::GfxTestView::snapshot();
        if (gfx::GfxTestView::labelWithText(views, steps[next].text)) {
            for (int id : steps[next].ids) EventDispatcher::addEvent(id);
            ++next;
        }
        looking = false;
    }

private:
    std::vector<Step> steps;
    size_t next = 0;
    bool looking = false;
};

inline void send(int id) {
    EventDispatcher::addEvent(id);
    EventDispatcher::dispatch();
}
// The ids of a panel script (driver::keys), each handled in a pass of its own.
inline void send(const char* script) {
    for (int id : driver::keys(script)) send(id);
}

// One redraw as the UI pass does it: clear, rebuild.
inline std::vector<gfx::ObjectView> redraw() {
    lv_obj_clean(lv_screen_active());
    send(EventId::Redraw);
    return gfx::GfxTestView::snapshot();
}

using driver::labelOf;
using driver::savePng;

inline NodeItem* folder(Node* parent, const char* key, const char* name, int colour, bool withSwitch, bool on) {
    auto* f = new NodeItem(parent, key, name, "", "hfolder");
    if (colour) f->setStyleColor(colour);
    f->setStyleMode("mini");
    if (withSwitch) new NodeOnOff(f, "on_off", "Enable", on ? NodeOnOff::ON : NodeOnOff::OFF);
    return f;
}

inline NodeFloat* knob(Node* parent, const char* key, const char* name) {
    return new NodeFloat(parent, key, name, 0.0f, 10.0f, 5.0f, "", 0.5f, false, 1);
}

struct ProductTree {
    Node* root;
    Node* app;
    NodeList* presets;
    NodePreset* preset;
    NodeItem *gate, *comp, *amp, *delay, *reverb, *output;
    NodeFloat *gain, *low, *mid, *treble;
    NodeFloat *delayTime, *feedback, *delayMix;
    NodeEnum* delayMode;
    NodeFloat *volume, *level;
    Tempo* tempo;
    Tuner* tuner;
    std::vector<NodeItem*> assigns;
    Home* home;

    // Presets "Clean", "Crunch", "Lead", "Solo", "Ambient", "Funk", "Jazz" in slots 0 to 6; "Ambient" (slot
    // 4, 02B) selected and unedited.
    ProductTree() {
        pages::ownHome();
        porting::setClock([] {
            ScriptedUser::instance().look();
            return now();
        });
        LCD::initialize();

        root = new NodeItem(nullptr, "root", "root", "", "vfolder");
        app = new NodeItem(root, "app", "Application", "", "vfolder");
        presets = new NodeList(root, "presets", "Presets", "pst_pst", 16384, 60);
        presets->setGroup(3);
        preset = new NodePreset(app, "preset", "Preset", "", presets);

        gate = folder(app, "gate", "Gate", 0x888844, true, true);
        knob(gate, "thr", "Threshold");
        comp = folder(app, "comp", "Comp", 0xFFFF00, true, false);
        knob(comp, "sustain", "Sustain");
        amp = folder(app, "amp", "Amp", 0xFF0000, true, true);
        gain = knob(amp, "gain", "Gain");
        low = knob(amp, "low", "Low");
        mid = knob(amp, "mid", "Mid");
        treble = knob(amp, "treble", "Treble");
        delay = folder(app, "delay", "Delay", 0x00FF00, true, true);
        delayTime = knob(delay, "time", "Time");
        auto* sync = new NodeItem(delay, "sync", "Sync", "partempo", "vfolder");
        knob(sync, "div", "Division");
        auto* tone = new NodeItem(delay, "tone", "Tone", "", "vfolder");
        new NodeOnOff(tone, "on_off", "Enable", NodeOnOff::ON);
        feedback = knob(tone, "fb", "Feedback");
        delayMode = new NodeEnum(delay, "mode", "Mode", {"DIGITAL", "TAPE"}, "DIGITAL");
        delayMix = knob(delay, "mix", "Mix");
        reverb = folder(app, "reverb", "Rev", 0xFF00FF, true, true);
        knob(reverb, "decay", "Decay");
        output = folder(app, "output", "Master", 0, false, false);
        tempo = new Tempo(output, preset);
        volume = new NodeFloat(output, "vol", "Volume", 0, 100, 50, "%", 0.5f, false, 0);
        auto* pst = new NodeItem(output, "pst", "Preset Specific", "", "vfolder");
        level = new NodeFloat(pst, "level", "Level", -20, 20, 0, "dB", 0.5f, false, 1);
        preset->addIgnoreNode(volume);

        auto* settings = new NodeItem(root, "settings", "Settings", "", "sfolder");
        tuner = new Tuner(new NodeItem(settings, "tuner", "Tuner", "", "hfolder"), false);

        for (int i = 1; i <= 4; ++i) {
            const std::string key = "assign" + std::to_string(i);
            assigns.push_back(new NodeItem(root, key.c_str(), ("assing" + std::to_string(i)).c_str(), "", "string"));
        }

        for (const char* name : {"Clean", "Crunch", "Lead", "Solo", "Ambient", "Funk", "Jazz"}) {
            EXPECT_TRUE(preset->setValue(std::string(name) + NodePreset::SAVE_SUFFIX)) << name;
        }
        select(4);

        // As the product application builds them: Home at the bottom, then the tempo and tuner pages.
        home = new Home(app, nullptr, preset, tuner, tempo, assigns);
        (new DrawerTempo(tempo))->setVolumeNode(volume);
        new DrawerTuner(tuner);
        home->setControls(low, mid, treble, gain);
        home->setVolumeNode(volume);
        home->setLevelNode(level);
        home->setTuner(tuner);
    }

    void select(int index) {
        tick();
        EXPECT_TRUE(preset->setByIndex(index));
        tick();
    }
    // Change times must differ for the edited mark to tell a change after a load.
    static void tick() { now() += 1000; }

    // Runs the script while id is handled (the dialogs' nested loops look at the screen on every pass).
    void withUser(std::vector<Step> steps, int id) {
        ScriptedUser::instance().script(std::move(steps));
        send(id);
        EXPECT_TRUE(ScriptedUser::instance().done()) << "the script did not reach its end";
        ScriptedUser::instance().script({});
    }
};

}
