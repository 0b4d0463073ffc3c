#pragma once
#include "ui/gfx/GfxTree.h"

namespace gfx {

// The layout pass: gives every object of a screen its box on the display from its position, size,
// alignment and its parent's content area (inside border and padding, shifted by the parent's scroll), sizes
// objects to their content where asked, stacks message box texts and shares its footer among its buttons,
// lays out keyboard keys, and breaks label text into the lines shown.
class Layout {
public:
    static void run(lv_obj_t* screen, int32_t width, int32_t height);

    // The box inside border and padding.
    static lv_area_t contentArea(const lv_obj_t* obj, const ResolvedStyle& style);

private:
    static void measure(lv_obj_t* obj, int32_t availableWidth, int32_t availableHeight);
    static void place(lv_obj_t* obj);
    static void placeMessageBox(lv_obj_t* box, const lv_area_t& content, int32_t gap);
    static void placeColumn(lv_obj_t* column, int32_t gap);
    static void placeRow(lv_obj_t* row, int32_t gap);
    static void shapeLabel(lv_obj_t* label);
    static void layoutKeys(lv_obj_t* keyboard);
    static void setBox(lv_obj_t* obj, int32_t x, int32_t y, int32_t width, int32_t height);
};

}
