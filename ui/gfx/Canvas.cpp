#include "ui/gfx/Canvas.h"

#include <algorithm>
#include <cmath>

namespace gfx {

namespace {
uint32_t mix(uint32_t from, uint32_t to, uint32_t amount) { // amount 0..255 towards `to`
    uint32_t out = 0;
    for (int shift = 0; shift <= 16; shift += 8) {
        const uint32_t a = (from >> shift) & 0xFF, b = (to >> shift) & 0xFF;
        out |= ((a * (255 - amount) + b * amount + 127) / 255) << shift;
    }
    return out;
}

// Coverage 0..1 of pixel (x, y) by a box with rounded corners; the box spans its pixels fully, so only
// the corners are anti-aliased.
float boxCoverage(const lv_area_t& a, int32_t radius, int32_t x, int32_t y) {
    if (x < a.x1 || x > a.x2 || y < a.y1 || y > a.y2) return 0.0f;
    if (radius <= 0) return 1.0f;
    float cx, cy;
    if (x < a.x1 + radius) cx = float(a.x1 + radius);
    else if (x > a.x2 - radius) cx = float(a.x2 + 1 - radius);
    else return 1.0f;
    if (y < a.y1 + radius) cy = float(a.y1 + radius);
    else if (y > a.y2 - radius) cy = float(a.y2 + 1 - radius);
    else return 1.0f;
    const float distance = std::hypot(float(x) + 0.5f - cx, float(y) + 0.5f - cy) - float(radius);
    return std::clamp(0.5f - distance, 0.0f, 1.0f);
}

// Signed distance from the centre of pixel (x, y) to the outline of a rounded box (negative inside).
float boxDistance(const lv_area_t& a, int32_t radius, int32_t x, int32_t y) {
    const float halfW = float(areaWidth(a)) / 2, halfH = float(areaHeight(a)) / 2;
    const float qx = std::fabs(float(x) + 0.5f - (float(a.x1) + halfW)) - (halfW - float(radius));
    const float qy = std::fabs(float(y) + 0.5f - (float(a.y1) + halfH)) - (halfH - float(radius));
    const float outside = std::hypot(std::max(qx, 0.0f), std::max(qy, 0.0f));
    return outside + std::min(std::max(qx, qy), 0.0f) - float(radius);
}

uint32_t opacity(float coverage, uint8_t opa) { return uint32_t(coverage * float(opa) + 0.5f); }
}

bool intersect(const lv_area_t& a, const lv_area_t& b, lv_area_t& out) {
    out = {std::max(a.x1, b.x1), std::max(a.y1, b.y1), std::min(a.x2, b.x2), std::min(a.y2, b.y2)};
    return out.x1 <= out.x2 && out.y1 <= out.y2;
}

Canvas::Canvas(uint16_t* pixels, int32_t width, int32_t height) : pixels(pixels), width(width), height(height) {}

uint16_t Canvas::toRgb565(uint32_t rgb) {
    return uint16_t(((rgb >> 19) & 0x1F) << 11 | ((rgb >> 10) & 0x3F) << 5 | ((rgb >> 3) & 0x1F));
}

uint32_t Canvas::fromRgb565(uint16_t pixel) {
    const uint32_t r = (pixel >> 11) & 0x1F, g = (pixel >> 5) & 0x3F, b = pixel & 0x1F;
    return (r << 3 | r >> 2) << 16 | (g << 2 | g >> 4) << 8 | (b << 3 | b >> 2);
}

int32_t Canvas::clampRadius(const lv_area_t& area, int32_t radius) {
    const int32_t limit = std::min(areaWidth(area), areaHeight(area)) / 2;
    return std::clamp(radius, 0, std::max(0, limit));
}

void Canvas::fill(uint32_t color) { std::fill(pixels, pixels + size_t(width) * height, toRgb565(color)); }

void Canvas::blend(int32_t x, int32_t y, uint32_t color, uint32_t opa) {
    if (opa == 0 || x < 0 || y < 0 || x >= width || y >= height) return;
    uint16_t& target = pixels[size_t(y) * width + x];
    target = toRgb565(opa >= 255 ? color : mix(fromRgb565(target), color, opa));
}

uint32_t Canvas::pixel(int32_t x, int32_t y) const {
    if (x < 0 || y < 0 || x >= width || y >= height) return 0;
    return fromRgb565(pixels[size_t(y) * width + x]);
}

void Canvas::fillBox(const lv_area_t& area, int32_t radius, const Paint& paint, const lv_area_t& clip,
                     const Shape* inside) {
    lv_area_t draw;
    if (paint.opa == 0 || !intersect(area, clip, draw) || !intersect(draw, bounds(), draw)) return;
    if (inside && !intersect(draw, inside->area, draw)) return;
    radius = clampRadius(area, radius);
    const int32_t insideRadius = inside ? clampRadius(inside->area, inside->radius) : 0;
    const int32_t rows = std::max(1, areaHeight(area) - 1);
    for (int32_t y = draw.y1; y <= draw.y2; ++y) {
        uint32_t color = paint.color;
        if (paint.vertical) {
            const int32_t at = (y - area.y1) * 255 / rows;
            if (at >= paint.gradStop) color = paint.gradColor;
            else if (at > paint.mainStop)
                color = mix(paint.color, paint.gradColor,
                            uint32_t((at - paint.mainStop) * 255 / std::max(1, paint.gradStop - paint.mainStop)));
        }
        for (int32_t x = draw.x1; x <= draw.x2; ++x) {
            float cover = boxCoverage(area, radius, x, y);
            if (inside) cover *= boxCoverage(inside->area, insideRadius, x, y);
            blend(x, y, color, opacity(cover, paint.opa));
        }
    }
}

void Canvas::border(const lv_area_t& area, int32_t radius, int32_t borderWidth, uint8_t sides, uint32_t color,
                    uint8_t opa, const lv_area_t& clip) {
    lv_area_t draw;
    if (borderWidth <= 0 || opa == 0 || sides == LV_BORDER_SIDE_NONE || !intersect(area, clip, draw) ||
        !intersect(draw, bounds(), draw))
        return;
    radius = clampRadius(area, radius);
    // The inner box reaches past the outer one on the sides without a border, so no ring shows there.
    const int32_t beyond = borderWidth + radius + 1;
    const lv_area_t inner{area.x1 + ((sides & LV_BORDER_SIDE_LEFT) ? borderWidth : -beyond),
                          area.y1 + ((sides & LV_BORDER_SIDE_TOP) ? borderWidth : -beyond),
                          area.x2 - ((sides & LV_BORDER_SIDE_RIGHT) ? borderWidth : -beyond),
                          area.y2 - ((sides & LV_BORDER_SIDE_BOTTOM) ? borderWidth : -beyond)};
    const int32_t innerRadius = std::max(0, radius - borderWidth);
    for (int32_t y = draw.y1; y <= draw.y2; ++y) {
        for (int32_t x = draw.x1; x <= draw.x2; ++x) {
            const float outer = boxCoverage(area, radius, x, y);
            const float hole =
                inner.x1 <= inner.x2 && inner.y1 <= inner.y2 ? boxCoverage(inner, innerRadius, x, y) : 0.0f;
            blend(x, y, color, opacity(outer * (1.0f - hole), opa));
        }
    }
}

void Canvas::shadow(const lv_area_t& area, int32_t radius, int32_t shadowWidth, int32_t spread, uint32_t color,
                    uint8_t opa, const lv_area_t& clip) {
    if (opa == 0 || (shadowWidth <= 0 && spread <= 0)) return;
    radius = clampRadius(area, radius);
    const lv_area_t solid{area.x1 - spread, area.y1 - spread, area.x2 + spread, area.y2 + spread};
    const int32_t solidRadius = clampRadius(solid, radius + spread);
    const lv_area_t reach{solid.x1 - shadowWidth, solid.y1 - shadowWidth, solid.x2 + shadowWidth,
                          solid.y2 + shadowWidth};
    lv_area_t draw;
    if (!intersect(reach, clip, draw) || !intersect(draw, bounds(), draw)) return;
    for (int32_t y = draw.y1; y <= draw.y2; ++y) {
        for (int32_t x = draw.x1; x <= draw.x2; ++x) {
            // The box itself covers the middle; only what lies around it is drawn.
            const float outsideBox = 1.0f - boxCoverage(area, radius, x, y);
            if (outsideBox <= 0.0f) continue;
            const float distance = boxDistance(solid, solidRadius, x, y);
            const float cover = shadowWidth > 0 ? std::clamp(1.0f - distance / float(shadowWidth), 0.0f, 1.0f)
                                                : std::clamp(0.5f - distance, 0.0f, 1.0f);
            blend(x, y, color, opacity(cover * outsideBox, opa));
        }
    }
}

void Canvas::image(const lv_area_t& area, int32_t radius, const lv_image_dsc_t& image, bool tiled, uint32_t recolor,
                   uint8_t recolorOpa, const lv_area_t& clip) {
    const int32_t w = int32_t(image.header.w), h = int32_t(image.header.h);
    const int32_t stride = int32_t(image.header.stride / 2);
    if (image.header.cf != LV_COLOR_FORMAT_RGB565 || w <= 0 || h <= 0 || !image.data ||
        image.data_size < uint32_t(stride * 2 * h))
        return;
    lv_area_t target = area;
    if (!tiled) {
        target.x1 = area.x1 + (areaWidth(area) - w) / 2;
        target.y1 = area.y1 + (areaHeight(area) - h) / 2;
        target.x2 = target.x1 + w - 1;
        target.y2 = target.y1 + h - 1;
    }
    lv_area_t draw;
    if (!intersect(target, area, draw) || !intersect(draw, clip, draw) || !intersect(draw, bounds(), draw)) return;
    radius = clampRadius(area, radius);
    const auto* source = reinterpret_cast<const uint16_t*>(image.data);
    for (int32_t y = draw.y1; y <= draw.y2; ++y) {
        for (int32_t x = draw.x1; x <= draw.x2; ++x) {
            const int32_t u = (x - target.x1) % w, v = (y - target.y1) % h;
            uint32_t color = fromRgb565(source[size_t(v) * stride + u]);
            if (recolorOpa) color = mix(color, recolor, recolorOpa);
            blend(x, y, color, opacity(boxCoverage(area, radius, x, y), LV_OPA_COVER));
        }
    }
}

void Canvas::coverage(int32_t x, int32_t y, int32_t w, int32_t h, const uint8_t* alpha, uint32_t color, uint8_t opa,
                      const lv_area_t& clip) {
    const lv_area_t glyph{x, y, x + w - 1, y + h - 1};
    lv_area_t draw;
    if (w <= 0 || h <= 0 || !intersect(glyph, clip, draw) || !intersect(draw, bounds(), draw)) return;
    for (int32_t row = draw.y1; row <= draw.y2; ++row)
        for (int32_t col = draw.x1; col <= draw.x2; ++col)
            blend(col, row, color, (uint32_t(alpha[size_t(row - y) * w + (col - x)]) * opa + 127) / 255);
}

void Canvas::line(lv_point_precise_t from, lv_point_precise_t to, int32_t lineWidth, uint32_t color, uint8_t opa,
                  const lv_area_t& clip) {
    if (lineWidth <= 0) return;
    const Paint paint{color, opa};
    if (from.y == to.y) {
        fillBox({std::min(from.x, to.x), from.y, std::max(from.x, to.x), from.y + lineWidth - 1}, 0, paint, clip);
        return;
    }
    if (from.x == to.x) {
        fillBox({from.x, std::min(from.y, to.y), from.x + lineWidth - 1, std::max(from.y, to.y)}, 0, paint, clip);
        return;
    }
    // A slanted stroke: coverage by distance from the centre line, which runs half the width inside.
    const float half = float(lineWidth) / 2;
    const float ax = float(from.x) + half, ay = float(from.y) + half;
    const float bx = float(to.x) + half, by = float(to.y) + half;
    const float dx = bx - ax, dy = by - ay, lengthSquared = dx * dx + dy * dy;
    lv_area_t draw;
    const lv_area_t reach{std::min(from.x, to.x) - 1, std::min(from.y, to.y) - 1, std::max(from.x, to.x) + lineWidth,
                          std::max(from.y, to.y) + lineWidth};
    if (!intersect(reach, clip, draw) || !intersect(draw, bounds(), draw)) return;
    for (int32_t y = draw.y1; y <= draw.y2; ++y) {
        for (int32_t x = draw.x1; x <= draw.x2; ++x) {
            const float px = float(x) + 0.5f, py = float(y) + 0.5f;
            const float t = std::clamp(((px - ax) * dx + (py - ay) * dy) / lengthSquared, 0.0f, 1.0f);
            const float distance = std::hypot(px - (ax + t * dx), py - (ay + t * dy));
            blend(x, y, color, opacity(std::clamp(half + 0.5f - distance, 0.0f, 1.0f), opa));
        }
    }
}

}
