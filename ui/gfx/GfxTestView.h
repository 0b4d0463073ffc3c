#pragma once
// For tests only: the object tree as the layout pass placed it, with each part's resolved style, and the
// rendered picture. Most rendering checks read this view (class, box, text, colours) and so do not depend
// on the glyphs of the installed fonts; the picture serves checks that only pixels can show.
#include "ui/gfx/GfxTree.h"

#include <string>
#include <vector>

namespace gfx {

struct KeyView {
    std::string text;
    lv_area_t box;
    uint32_t width;
    bool checked;
    ResolvedStyle style; // items part in the key's state
};

struct ObjectView {
    const lv_obj_t* object;
    std::string kind; // "screen", "obj", "label", "line", "bar", "slider", "button", "msgbox", "keyboard", ...
    int depth;        // 0 for the root of the snapshot
    int parent;       // index in the snapshot, -1 for the root
    lv_area_t box;    // on the display
    int32_t x, y, width, height; // the same box
    lv_align_t align;
    lv_obj_flag_t flags;
    lv_state_t state;
    std::string text;               // label text as set
    std::vector<std::string> lines; // label text as shown (wrapped, cut with dots)
    lv_label_long_mode_t longMode;
    ResolvedStyle main, indicator, knob;
    int32_t rangeMin, rangeMax, value, startValue; // bars and sliders
    lv_bar_mode_t barMode;
    std::vector<lv_point_precise_t> points; // lines
    int32_t scrollX;                        // applied scroll
    int32_t scrollRequest;                  // scroll asked for
    std::vector<KeyView> keys;              // keyboard
};

class GfxTestView {
public:
    // Lays out the active screen and lists the objects under `root` (default: the screen) depth-first,
    // parents before children, children in creation order.
    static std::vector<ObjectView> snapshot(const lv_obj_t* root = nullptr);
    static std::vector<const ObjectView*> ofKind(const std::vector<ObjectView>& views, const std::string& kind);
    // The first label whose text is exactly `text`, or null.
    static const ObjectView* labelWithText(const std::vector<ObjectView>& views, const std::string& text);
    // One line per object: kind, box, text and the main colours, for failure messages.
    static std::string describe(const std::vector<ObjectView>& views);

    // Lays out and renders the active screen into the display's picture, leaving the framebuffer alone.
    static void render();
    // A pixel of the display's picture as last rendered, 0xRRGGBB (from RGB565).
    static uint32_t pixel(int32_t x, int32_t y);
    static bool savePng(const std::string& path);
};

}
