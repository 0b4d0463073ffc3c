#pragma once
#include "ui/gfx/Canvas.h"
#include "ui/gfx/GfxTree.h"

namespace gfx {

// Draws a laid-out screen: each object's shadow, background (colour, gradient, image) and border, then
// its own content (text, line, bar indicator, slider knob, keys), then its children clipped to its box,
// then a border marked to come after the content.
class Renderer {
public:
    static void render(const lv_obj_t* screen, Canvas& canvas);

private:
    static void drawObject(const lv_obj_t* obj, Canvas& canvas, const lv_area_t& clip);
    static void drawBox(const lv_area_t& area, const ResolvedStyle& s, Canvas& canvas, const lv_area_t& clip);
    static void drawBorder(const lv_area_t& area, const ResolvedStyle& s, Canvas& canvas, const lv_area_t& clip);
    static void drawText(const lv_area_t& area, const std::vector<std::string>& lines, const ResolvedStyle& s,
                         Canvas& canvas, const lv_area_t& clip);
    static void drawLine(const lv_obj_t* line, const ResolvedStyle& s, Canvas& canvas, const lv_area_t& clip);
    static void drawBar(const lv_obj_t* bar, const ResolvedStyle& main, Canvas& canvas, const lv_area_t& clip);
    static void drawKeys(const lv_obj_t* keyboard, Canvas& canvas, const lv_area_t& clip);
};

}
