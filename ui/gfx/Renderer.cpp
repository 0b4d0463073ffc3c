#include "ui/gfx/Renderer.h"

#include "ui/gfx/FontCache.h"
#include "ui/gfx/Layout.h"
#include "ui/gfx/TextLayout.h"

#include <algorithm>

namespace gfx {

namespace {
Paint backgroundPaint(const ResolvedStyle& s) {
    Paint paint{s.bgColor, s.bgOpa};
    if (s.bgGradDir == LV_GRAD_DIR_VER) {
        paint.vertical = true;
        paint.gradColor = s.bgGradColor;
        paint.mainStop = s.bgMainStop;
        paint.gradStop = s.bgGradStop;
    }
    return paint;
}

// Where a value lies along `length` pixels of a range.
int32_t along(int32_t value, int32_t min, int32_t max, int32_t length) {
    return max > min ? int32_t((int64_t(value) - min) * length / (int64_t(max) - min)) : 0;
}
}

void Renderer::render(const lv_obj_t* screen, Canvas& canvas) {
    if (!screen) return;
    canvas.fill(0x000000);
    drawObject(screen, canvas, canvas.bounds());
}

void Renderer::drawObject(const lv_obj_t* obj, Canvas& canvas, const lv_area_t& clip) {
    const ResolvedStyle s = resolveStyle(obj, LV_PART_MAIN);
    drawBox(obj->box, s, canvas, clip);
    if (!s.borderPost) drawBorder(obj->box, s, canvas, clip);

    switch (obj->kind) {
    case Kind::Label: {
        lv_area_t own;
        if (intersect(obj->box, clip, own)) drawText(Layout::contentArea(obj, s), obj->shownLines, s, canvas, own);
        break;
    }
    case Kind::Line:
        drawLine(obj, s, canvas, clip);
        break;
    case Kind::Bar:
    case Kind::Slider:
        drawBar(obj, s, canvas, clip);
        break;
    case Kind::Keyboard:
        drawKeys(obj, canvas, clip);
        break;
    default:
        break;
    }

    lv_area_t inner;
    if (!obj->children.empty() && intersect(obj->box, clip, inner))
        for (const auto& child : obj->children) drawObject(child.get(), canvas, inner);

    if (s.borderPost) drawBorder(obj->box, s, canvas, clip);
}

void Renderer::drawBox(const lv_area_t& area, const ResolvedStyle& s, Canvas& canvas, const lv_area_t& clip) {
    if (area.x2 < area.x1 || area.y2 < area.y1) return;
    if (s.shadowWidth > 0 || s.shadowSpread > 0)
        canvas.shadow(area, s.radius, s.shadowWidth, s.shadowSpread, s.shadowColor, s.shadowOpa, clip);
    canvas.fillBox(area, s.radius, backgroundPaint(s), clip);
    if (s.bgImage)
        canvas.image(area, s.radius, *s.bgImage, s.bgImageTiled, s.bgImageRecolor, s.bgImageRecolorOpa, clip);
}

void Renderer::drawBorder(const lv_area_t& area, const ResolvedStyle& s, Canvas& canvas, const lv_area_t& clip) {
    canvas.border(area, s.radius, s.borderWidth, s.borderSide, s.borderColor, s.borderOpa, clip);
}

void Renderer::drawText(const lv_area_t& area, const std::vector<std::string>& lines, const ResolvedStyle& s,
                        Canvas& canvas, const lv_area_t& clip) {
    FontCache& fonts = FontCache::instance();
    const FontMetrics& metrics = fonts.metrics(s.textFont);
    int32_t top = area.y1;
    for (const std::string& line : lines) {
        const int32_t lineWidth = TextLayout::width(line, s.textFont, s.textLetterSpace);
        int32_t x = area.x1;
        if (s.textAlign == LV_TEXT_ALIGN_CENTER) x = area.x1 + (areaWidth(area) - lineWidth) / 2;
        if (s.textAlign == LV_TEXT_ALIGN_RIGHT) x = area.x2 + 1 - lineWidth;
        const int32_t baseline = top + metrics.ascent;
        const int32_t start = x;
        for (size_t pos = 0; pos < line.size();) {
            const Glyph& glyph = fonts.glyph(s.textFont, TextLayout::nextCodepoint(line, pos));
            canvas.coverage(x + glyph.left, baseline - glyph.top, glyph.width, glyph.height, glyph.coverage.data(),
                            s.textColor, s.textOpa, clip);
            x += glyph.advance + s.textLetterSpace;
        }
        if ((s.textDecor & LV_TEXT_DECOR_UNDERLINE) && lineWidth > 0) {
            const int32_t y = baseline + metrics.underlineOffset;
            canvas.fillBox({start, y, start + lineWidth - 1, y + metrics.underlineThickness - 1}, 0,
                           Paint{s.textColor, s.textOpa}, clip);
        }
        top += metrics.lineHeight + s.textLineSpace;
    }
}

void Renderer::drawLine(const lv_obj_t* line, const ResolvedStyle& s, Canvas& canvas, const lv_area_t& clip) {
    for (size_t i = 1; i < line->points.size(); ++i) {
        const lv_point_precise_t from{line->box.x1 + line->points[i - 1].x, line->box.y1 + line->points[i - 1].y};
        const lv_point_precise_t to{line->box.x1 + line->points[i].x, line->box.y1 + line->points[i].y};
        canvas.line(from, to, s.lineWidth, s.lineColor, LV_OPA_COVER, clip);
    }
}

void Renderer::drawBar(const lv_obj_t* bar, const ResolvedStyle& main, Canvas& canvas, const lv_area_t& clip) {
    const lv_area_t area{bar->box.x1 + main.padLeft, bar->box.y1 + main.padTop, bar->box.x2 - main.padRight,
                         bar->box.y2 - main.padBottom};
    if (area.x2 < area.x1 || area.y2 < area.y1) return;
    const bool vertical = areaHeight(bar->box) > areaWidth(bar->box);
    const int32_t from = bar->barMode == LV_BAR_MODE_RANGE ? std::min(bar->startValue, bar->value) : bar->rangeMin;
    const int32_t to = bar->barMode == LV_BAR_MODE_RANGE ? std::max(bar->startValue, bar->value) : bar->value;
    const int32_t length = vertical ? areaHeight(area) : areaWidth(area);
    const int32_t begin = along(from, bar->rangeMin, bar->rangeMax, length);
    const int32_t end = along(to, bar->rangeMin, bar->rangeMax, length);

    lv_area_t indicator = area;
    if (vertical) { // fills from the bottom up
        indicator.y1 = area.y2 + 1 - end;
        indicator.y2 = area.y2 - begin;
    } else {
        indicator.x1 = area.x1 + begin;
        indicator.x2 = area.x1 + end - 1;
    }
    const ResolvedStyle ind = resolveStyle(bar, LV_PART_INDICATOR);
    if (end > begin) {
        // The indicator keeps inside the bar's rounded outline.
        const Shape outline{bar->box, Canvas::clampRadius(bar->box, main.radius)};
        canvas.fillBox(indicator, ind.radius, backgroundPaint(ind), clip, &outline);
        drawBorder(indicator, ind, canvas, clip);
    }
    if (bar->kind != Kind::Slider) return;

    const ResolvedStyle knob = resolveStyle(bar, LV_PART_KNOB);
    lv_area_t knobArea;
    if (vertical) {
        const int32_t centre = area.y2 - along(bar->value, bar->rangeMin, bar->rangeMax, length - 1);
        const int32_t half = areaWidth(area) / 2;
        knobArea = {area.x1 - knob.padLeft, centre - half - knob.padTop, area.x2 + knob.padRight,
                    centre - half + areaWidth(area) - 1 + knob.padBottom};
    } else {
        const int32_t centre = area.x1 + along(bar->value, bar->rangeMin, bar->rangeMax, length - 1);
        const int32_t half = areaHeight(area) / 2;
        knobArea = {centre - half - knob.padLeft, area.y1 - knob.padTop,
                    centre - half + areaHeight(area) - 1 + knob.padRight, area.y2 + knob.padBottom};
    }
    drawBox(knobArea, knob, canvas, clip);
    drawBorder(knobArea, knob, canvas, clip);
}

void Renderer::drawKeys(const lv_obj_t* keyboard, Canvas& canvas, const lv_area_t& clip) {
    lv_area_t inside;
    if (!intersect(keyboard->box, clip, inside)) return;
    for (const Key& key : keyboard->keys) {
        const lv_state_t state = (key.ctrl & LV_BUTTONMATRIX_CTRL_CHECKED) ? LV_STATE_CHECKED : LV_STATE_DEFAULT;
        const ResolvedStyle s = resolveStyle(keyboard, LV_PART_ITEMS, keyboard->state | state);
        drawBox(key.box, s, canvas, inside);
        drawBorder(key.box, s, canvas, inside);
        lv_area_t keyClip;
        if (!intersect(key.box, inside, keyClip)) continue;
        const int32_t lineHeight = FontCache::instance().metrics(s.textFont).lineHeight;
        const lv_area_t textArea{key.box.x1, key.box.y1 + (areaHeight(key.box) - lineHeight) / 2, key.box.x2,
                                 key.box.y1 + (areaHeight(key.box) - lineHeight) / 2 + lineHeight - 1};
        ResolvedStyle centred = s;
        centred.textAlign = LV_TEXT_ALIGN_CENTER;
        drawText(textArea, {key.text}, centred, canvas, keyClip);
    }
}

}
