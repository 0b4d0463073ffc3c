#pragma once
// Drives the list pages in tests: events through the real dispatcher, redraws as the UI pass does them, and
// the main encoder's turns and presses that a keyboard or a list needs.
#include "ui/EventDispatcher.h"
#include "ui/EventId.h"
#include "ui/gfx/GfxTestView.h"
#include "ui/glcd/Glcd.h"
#include "porting/Shims.h"

#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace driver {

// Queues the ids and runs dispatch passes until the queue is empty. A modal page opened on the way runs its
// own UI passes (waitModal) and takes the ids queued behind the one that opened it.
inline void send(const std::vector<int>& ids) {
    for (int id : ids) EventDispatcher::addEvent(id);
    for (int pass = 0; pass < 8; ++pass) EventDispatcher::dispatch();
}
inline void send(int id) { send(std::vector<int>{id}); }

// The ids of a panel script: '>' and '<' turn the main encoder, 'v' presses it, '^' is its short release,
// 'L' and 'l' its long press and release; 'x' is encoder 2's short release (back), 't' a tick, 'i' idle,
// 'r' a redraw.
// A number repeats the symbol after it: "5<v^" is five steps back, then a press and release.
inline std::vector<int> keys(const std::string& script) {
    static const std::map<char, int> ids = {{'>', EventId::Encoder1Forward},
                                            {'<', EventId::Encoder1Back},
                                            {'v', EventId::Encoder1Press},
                                            {'^', EventId::Encoder1ShortRelease},
                                            {'L', EventId::Encoder1LongPress},
                                            {'l', EventId::Encoder1LongRelease},
                                            {'x', EventId::Encoder2ShortRelease},
                                            {'t', EventId::Tick},
                                            {'i', EventId::Idle},
                                            {'r', EventId::Redraw}};
    std::vector<int> result;
    size_t count = 0;
    for (char c : script) {
        if (c >= '0' && c <= '9') {
            count = count * 10 + size_t(c - '0');
        } else if (c != ' ') {
            result.insert(result.end(), count ? count : 1, ids.at(c));
            count = 0;
        }
    }
    return result;
}
inline void send(const char* script) { send(keys(script)); }

// Events for modal pages that open one after the other inside one handler (a chooser, then a keyboard):
// ids queued before a modal page closes would still reach it, so each batch is queued only after enough
// UI passes for the pages of the previous batch to close. The passes are counted through the clock, which
// every dispatch pass reads at least twice; the clock advances 1 us a read, so no pass runs out of time.
// Should the pages never close, Close events end them after the script, and the test fails on its checks.
inline void sendScript(std::vector<std::vector<int>> batches) {
    static std::vector<std::vector<int>> pending;
    static size_t next = 0;
    static int64_t reads = 0;
    static int64_t now = 0;
    constexpr int64_t kReadsPerBatch = 40;
    pending = std::move(batches);
    next = 0;
    reads = 0;
    now = esp_timer_get_time();
    porting::setClock([] {
        if (++reads % kReadsPerBatch == 0) {
            if (next < pending.size()) {
                for (int id : pending[next++]) EventDispatcher::addEvent(id);
            } else if (reads > kReadsPerBatch * int64_t(pending.size() + 50)) {
                EventDispatcher::addEvent(EventId::Close);
            }
        }
        return ++now;
    });
    for (int id : pending[next++]) EventDispatcher::addEvent(id);
    for (int pass = 0; pass < 8; ++pass) EventDispatcher::dispatch();
    porting::setClock(nullptr);
}

// One redraw as the UI pass does it: the screen cleared, then event 1.
inline std::vector<gfx::ObjectView> redraw() {
    lv_obj_clean(lv_screen_active());
    send(EventId::Redraw);
    return gfx::GfxTestView::snapshot();
}

// One redraw of a page that draws into the monochrome picture: the picture holds only this redraw.
inline void redrawGlcd() {
    glcd_clear(0);
    send(EventId::Redraw);
}

inline std::vector<int> operator+(std::vector<int> a, const std::vector<int>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The label with that text, or a failure with the whole screen described.
inline const gfx::ObjectView& labelOf(const std::vector<gfx::ObjectView>& views, const std::string& text) {
    const gfx::ObjectView* view = gfx::GfxTestView::labelWithText(views, text);
    if (!view) {
        ADD_FAILURE() << "no label \"" << text << "\"\n" << gfx::GfxTestView::describe(views);
        static gfx::ObjectView none{};
        return none;
    }
    return *view;
}

inline void expectBox(const gfx::ObjectView& view, int32_t x, int32_t y, int32_t width, int32_t height) {
    EXPECT_EQ(view.x, x) << view.text;
    EXPECT_EQ(view.y, y) << view.text;
    EXPECT_EQ(view.width, width) << view.text;
    EXPECT_EQ(view.height, height) << view.text;
}

// Renders the screen and saves it as `name`.png in the test output folder, to look at.
inline void savePng(const std::string& name) {
    gfx::GfxTestView::render();
    EXPECT_TRUE(gfx::GfxTestView::savePng(std::string(PEDAL_TEST_OUT) + "/" + name + ".png")) << name;
}

// Keys of the keyboard's lower-case map, which it opens with; the highlight starts on key 0.
constexpr int kKeyA = 1;
constexpr int kKeyBackspace = 11;
constexpr int kKeyOk = 23;

// The main encoder's steps from key `from` forward to `to`, then its short press.
inline void pressKey(std::vector<int>& ids, int& from, int to) {
    for (; from != to; from = (from + 1) % 34) ids.push_back(EventId::Encoder1Forward);
    ids.push_back(EventId::Encoder1ShortRelease);
}

// The ids that, on a keyboard that was just opened, press backspace `erase` times, type the lower-case
// letters of `text` and press OK.
inline std::vector<int> editAndOk(int erase, const std::string& text) {
    std::vector<int> ids;
    int key = 0;
    for (int i = 0; i < erase; ++i) pressKey(ids, key, kKeyBackspace);
    for (char c : text) {
        const int letter = c <= 'j' ? kKeyA + (c - 'a') : c <= 't' ? 13 + (c - 'k') : 24 + (c - 'u');
        pressKey(ids, key, letter);
    }
    pressKey(ids, key, kKeyOk);
    return ids;
}
inline std::vector<int> typeAndOk(const std::string& text) { return editAndOk(0, text); }
inline std::vector<int> eraseAndOk(int erase) { return editAndOk(erase, ""); }

}
