#pragma once
#include "ui/gfx/Gfx.h"

#include <cstdint>

namespace gfx {

// A rounded box used to shape a fill (the bar's outline that its indicator stays inside).
struct Shape {
    lv_area_t area;
    int32_t radius;
};

// How a box is filled: one colour, or a vertical gradient from `color` to `gradColor` between the stops
// (0..255 of the box's height).
struct Paint {
    uint32_t color;
    uint8_t opa;
    bool vertical = false;
    uint32_t gradColor = 0;
    int32_t mainStop = 0;
    int32_t gradStop = 255;
};

// Drawing primitives on an RGB565 picture, each blended into what is there and limited to a clip area.
// Colours are 0xRRGGBB; edges of rounded shapes are anti-aliased.
class Canvas {
public:
    Canvas(uint16_t* pixels, int32_t width, int32_t height);

    lv_area_t bounds() const { return {0, 0, width - 1, height - 1}; }
    void fill(uint32_t color);
    void fillBox(const lv_area_t& area, int32_t radius, const Paint& paint, const lv_area_t& clip,
                 const Shape* inside = nullptr);
    // The ring between the box and the box shrunk by `width` on the given sides.
    void border(const lv_area_t& area, int32_t radius, int32_t width, uint8_t sides, uint32_t color, uint8_t opa,
                const lv_area_t& clip);
    // A glow around the box, `spread` pixels solid and then fading over `width` pixels.
    void shadow(const lv_area_t& area, int32_t radius, int32_t width, int32_t spread, uint32_t color, uint8_t opa,
                const lv_area_t& clip);
    // An RGB565 image drawn once at the box's centre, or tiled from its top left; mixed with `recolor`.
    void image(const lv_area_t& area, int32_t radius, const lv_image_dsc_t& image, bool tiled, uint32_t recolor,
               uint8_t recolorOpa, const lv_area_t& clip);
    // A coverage bitmap (a glyph) with its top left at (x, y).
    void coverage(int32_t x, int32_t y, int32_t w, int32_t h, const uint8_t* alpha, uint32_t color, uint8_t opa,
                  const lv_area_t& clip);
    // A straight stroke `width` thick whose top-left edge runs through the two points.
    void line(lv_point_precise_t from, lv_point_precise_t to, int32_t width, uint32_t color, uint8_t opa,
              const lv_area_t& clip);

    void blend(int32_t x, int32_t y, uint32_t color, uint32_t opa);
    uint32_t pixel(int32_t x, int32_t y) const; // 0xRRGGBB

    static uint16_t toRgb565(uint32_t rgb);
    static uint32_t fromRgb565(uint16_t pixel);
    static int32_t clampRadius(const lv_area_t& area, int32_t radius);

private:
    uint16_t* pixels;
    int32_t width;
    int32_t height;
};

bool intersect(const lv_area_t& a, const lv_area_t& b, lv_area_t& out);
inline int32_t areaWidth(const lv_area_t& a) { return a.x2 - a.x1 + 1; }
inline int32_t areaHeight(const lv_area_t& a) { return a.y2 - a.y1 + 1; }

}
