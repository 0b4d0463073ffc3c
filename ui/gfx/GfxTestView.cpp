#include "ui/gfx/GfxTestView.h"

#include "ui/gfx/Canvas.h"
#include "ui/gfx/Layout.h"
#include "ui/gfx/PngWriter.h"
#include "ui/gfx/Renderer.h"

#include <cstdio>

namespace gfx {

namespace {
void collect(const lv_obj_t* obj, int depth, int parent, std::vector<ObjectView>& out) {
    ObjectView v{};
    v.object = obj;
    v.kind = kindName(obj->kind);
    v.depth = depth;
    v.parent = parent;
    v.box = obj->box;
    v.x = obj->box.x1;
    v.y = obj->box.y1;
    v.width = obj->box.x2 - obj->box.x1 + 1;
    v.height = obj->box.y2 - obj->box.y1 + 1;
    v.align = obj->align;
    v.flags = obj->flags;
    v.state = obj->state;
    v.text = obj->text;
    v.lines = obj->shownLines;
    v.longMode = obj->longMode;
    v.main = resolveStyle(obj, LV_PART_MAIN);
    v.indicator = resolveStyle(obj, LV_PART_INDICATOR);
    v.knob = resolveStyle(obj, LV_PART_KNOB);
    v.rangeMin = obj->rangeMin;
    v.rangeMax = obj->rangeMax;
    v.value = obj->value;
    v.startValue = obj->startValue;
    v.barMode = obj->barMode;
    v.points = obj->points;
    v.scrollX = obj->scrollX;
    v.scrollRequest = obj->scrollRequest;
    for (const Key& key : obj->keys) {
        const bool checked = key.ctrl & LV_BUTTONMATRIX_CTRL_CHECKED;
        v.keys.push_back({key.text, key.box, key.width, checked,
                          resolveStyle(obj, LV_PART_ITEMS, obj->state | (checked ? LV_STATE_CHECKED : 0))});
    }
    const int index = int(out.size());
    out.push_back(std::move(v));
    for (const auto& child : obj->children) collect(child.get(), depth + 1, index, out);
}
}

std::vector<ObjectView> GfxTestView::snapshot(const lv_obj_t* root) {
    lv_obj_t* screen = lv_screen_active();
    lv_display_t* display = currentDisplay();
    Layout::run(screen, display->width, display->height);
    std::vector<ObjectView> views;
    collect(root ? root : screen, 0, -1, views);
    return views;
}

std::vector<const ObjectView*> GfxTestView::ofKind(const std::vector<ObjectView>& views, const std::string& kind) {
    std::vector<const ObjectView*> found;
    for (const ObjectView& v : views)
        if (v.kind == kind) found.push_back(&v);
    return found;
}

const ObjectView* GfxTestView::labelWithText(const std::vector<ObjectView>& views, const std::string& text) {
    for (const ObjectView& v : views)
        if (v.kind == "label" && v.text == text) return &v;
    return nullptr;
}

std::string GfxTestView::describe(const std::vector<ObjectView>& views) {
    std::string out;
    char line[256];
    for (const ObjectView& v : views) {
        std::snprintf(line, sizeof line, "%*s%s (%d,%d) %dx%d bg %06X/%u border %06X/%d text %06X", v.depth * 2, "",
                      v.kind.c_str(), v.x, v.y, v.width, v.height, v.main.bgColor, v.main.bgOpa, v.main.borderColor,
                      v.main.borderWidth, v.main.textColor);
        out += line;
        if (v.kind == "label") out += " \"" + v.text + "\"";
        out += "\n";
    }
    return out;
}

void GfxTestView::render() {
    lv_obj_t* screen = lv_screen_active();
    lv_display_t* display = currentDisplay();
    Layout::run(screen, display->width, display->height);
    Canvas canvas(display->pixels.data(), display->width, display->height);
    Renderer::render(screen, canvas);
}

uint32_t GfxTestView::pixel(int32_t x, int32_t y) {
    lv_display_t* display = currentDisplay();
    if (!display || x < 0 || y < 0 || x >= display->width || y >= display->height) return 0;
    return Canvas::fromRgb565(display->pixels[size_t(y) * display->width + x]);
}

bool GfxTestView::savePng(const std::string& path) {
    lv_display_t* display = currentDisplay();
    if (!display) return false;
    return PngWriter::writeRgb565(path, display->pixels.data(), display->width, display->height, display->width);
}

}
