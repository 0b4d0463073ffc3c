#include "ui/gfx/Layout.h"

#include "ui/gfx/Canvas.h"
#include "ui/gfx/FontCache.h"
#include "ui/gfx/TextLayout.h"

#include <algorithm>

namespace gfx {

namespace {
int32_t horizontalInsets(const ResolvedStyle& s) { return s.padLeft + s.padRight + 2 * s.borderWidth; }
int32_t verticalInsets(const ResolvedStyle& s) { return s.padTop + s.padBottom + 2 * s.borderWidth; }

bool wrapsAtWidth(const lv_obj_t* label) {
    return label->width != LV_SIZE_CONTENT || (label->parent && label->parent->kind == Kind::MsgboxContent);
}

// Size of a label's text block when its content area is `contentWidth` wide (0 or less: unwrapped).
void textBlock(const lv_obj_t* label, const ResolvedStyle& s, int32_t contentWidth, int32_t& width, int32_t& height) {
    const auto lines =
        TextLayout::lines(label->text, s.textFont, s.textLetterSpace, s.textLineSpace, {contentWidth, -1, false});
    width = 0;
    for (const auto& line : lines) width = std::max(width, TextLayout::width(line, s.textFont, s.textLetterSpace));
    const int32_t count = int32_t(lines.size());
    height = count * FontCache::instance().metrics(s.textFont).lineHeight + std::max(0, count - 1) * s.textLineSpace;
}

// How far right and down the children reach from the content area's top left, for content sizing and
// scrolling. Aligned children count with their size and offset.
void childrenExtent(const lv_obj_t* obj, int32_t& right, int32_t& bottom) {
    right = bottom = 0;
    for (const auto& child : obj->children) {
        const int32_t w = areaWidth(child->box), h = areaHeight(child->box);
        const bool leftAnchored = child->align == LV_ALIGN_DEFAULT || child->align == LV_ALIGN_TOP_LEFT ||
                                  child->align == LV_ALIGN_LEFT_MID || child->align == LV_ALIGN_BOTTOM_LEFT;
        const bool topAnchored = child->align == LV_ALIGN_DEFAULT || child->align == LV_ALIGN_TOP_LEFT ||
                                 child->align == LV_ALIGN_TOP_MID || child->align == LV_ALIGN_TOP_RIGHT;
        right = std::max(right, leftAnchored ? child->x + w : w + std::abs(child->x));
        bottom = std::max(bottom, topAnchored ? child->y + h : h + std::abs(child->y));
    }
}

void anchor(lv_align_t align, int32_t outerW, int32_t outerH, int32_t w, int32_t h, int32_t& x, int32_t& y) {
    x = y = 0;
    switch (align) {
    case LV_ALIGN_DEFAULT:
    case LV_ALIGN_TOP_LEFT:
        break;
    case LV_ALIGN_TOP_MID:
        x = (outerW - w) / 2;
        break;
    case LV_ALIGN_TOP_RIGHT:
        x = outerW - w;
        break;
    case LV_ALIGN_BOTTOM_LEFT:
        y = outerH - h;
        break;
    case LV_ALIGN_BOTTOM_MID:
        x = (outerW - w) / 2, y = outerH - h;
        break;
    case LV_ALIGN_BOTTOM_RIGHT:
        x = outerW - w, y = outerH - h;
        break;
    case LV_ALIGN_LEFT_MID:
        y = (outerH - h) / 2;
        break;
    case LV_ALIGN_RIGHT_MID:
        x = outerW - w, y = (outerH - h) / 2;
        break;
    case LV_ALIGN_CENTER:
        x = (outerW - w) / 2, y = (outerH - h) / 2;
        break;
    }
}

void shift(lv_obj_t* obj, int32_t dx, int32_t dy) {
    obj->box.x1 += dx, obj->box.x2 += dx, obj->box.y1 += dy, obj->box.y2 += dy;
}
}

lv_area_t Layout::contentArea(const lv_obj_t* obj, const ResolvedStyle& s) {
    return {obj->box.x1 + s.borderWidth + s.padLeft, obj->box.y1 + s.borderWidth + s.padTop,
            obj->box.x2 - s.borderWidth - s.padRight, obj->box.y2 - s.borderWidth - s.padBottom};
}

void Layout::run(lv_obj_t* screen, int32_t width, int32_t height) {
    if (!screen) return;
    setBox(screen, 0, 0, width, height);
    place(screen);
}

void Layout::setBox(lv_obj_t* obj, int32_t x, int32_t y, int32_t width, int32_t height) {
    obj->box = {x, y, x + std::max(0, width) - 1, y + std::max(0, height) - 1};
}

void Layout::measure(lv_obj_t* obj, int32_t availableWidth, int32_t availableHeight) {
    const ResolvedStyle s = resolveStyle(obj, LV_PART_MAIN);
    const int32_t hor = horizontalInsets(s), ver = verticalInsets(s);
    int32_t width = obj->width, height = obj->height;
    const bool contentWidth = width == LV_SIZE_CONTENT, contentHeight = height == LV_SIZE_CONTENT;

    switch (obj->kind) {
    case Kind::Label: {
        int32_t textWidth = 0, textHeight = 0;
        if (contentWidth) {
            textBlock(obj, s, 0, textWidth, textHeight);
            width = textWidth + hor;
        }
        if (contentHeight) {
            textBlock(obj, s, contentWidth ? 0 : width - hor, textWidth, textHeight);
            height = textHeight + ver;
        }
        break;
    }
    case Kind::Line: {
        int32_t right = 0, bottom = 0;
        for (const auto& p : obj->points) right = std::max(right, p.x), bottom = std::max(bottom, p.y);
        if (contentWidth) width = right + s.lineWidth;
        if (contentHeight) height = bottom + s.lineWidth;
        break;
    }
    case Kind::Keyboard:
        if (contentWidth) width = availableWidth;
        if (contentHeight) height = availableHeight / 2;
        break;
    case Kind::Msgbox: {
        int32_t widest = 0, textsHeight = 0, buttonsHeight = 0;
        if (obj->msgboxContent) {
            for (const auto& text : obj->msgboxContent->children) {
                measure(text.get(), availableWidth, availableHeight);
                widest = std::max(widest, areaWidth(text->box));
                textsHeight += areaHeight(text->box) + (textsHeight ? s.padRow : 0);
            }
        }
        if (obj->msgboxFooter)
            for (const auto& button : obj->msgboxFooter->children) {
                measure(button.get(), availableWidth, availableHeight);
                buttonsHeight = std::max(buttonsHeight, areaHeight(button->box));
            }
        if (contentWidth) width = std::min(availableWidth, std::max(widest + hor, 160));
        if (contentHeight) height = textsHeight + buttonsHeight + (textsHeight && buttonsHeight ? s.padRow : 0) + ver;
        break;
    }
    default:
        if (contentWidth || contentHeight) {
            for (const auto& child : obj->children)
                measure(child.get(), std::max(0, availableWidth - hor), std::max(0, availableHeight - ver));
            int32_t right = 0, bottom = 0;
            childrenExtent(obj, right, bottom);
            if (contentWidth) width = right + hor;
            if (contentHeight) height = bottom + ver;
        }
        break;
    }
    setBox(obj, 0, 0, width, height);
}

void Layout::place(lv_obj_t* obj) {
    const ResolvedStyle s = resolveStyle(obj, LV_PART_MAIN);
    const lv_area_t content = contentArea(obj, s);
    const int32_t contentW = std::max(0, areaWidth(content)), contentH = std::max(0, areaHeight(content));

    switch (obj->kind) {
    case Kind::Label:
        shapeLabel(obj);
        break;
    case Kind::Keyboard:
        layoutKeys(obj);
        break;
    default:
        break;
    }

    if (obj->kind == Kind::Msgbox) {
        placeMessageBox(obj, content, s.padRow);
    } else if (obj->kind == Kind::MsgboxContent) {
        placeColumn(obj, s.padRow);
    } else if (obj->kind == Kind::MsgboxFooter) {
        placeRow(obj, s.padColumn);
    } else {
        for (const auto& child : obj->children) measure(child.get(), contentW, contentH);
        int32_t right = 0, bottom = 0;
        childrenExtent(obj, right, bottom);
        obj->scrollX = std::clamp(obj->scrollRequest, 0, std::max(0, right - contentW));
        for (const auto& child : obj->children) {
            int32_t ax = 0, ay = 0;
            anchor(child->align, contentW, contentH, areaWidth(child->box), areaHeight(child->box), ax, ay);
            shift(child.get(), content.x1 + ax + child->x - obj->scrollX, content.y1 + ay + child->y);
        }
    }
    for (const auto& child : obj->children) place(child.get());
}

void Layout::placeMessageBox(lv_obj_t* box, const lv_area_t& content, int32_t gap) {
    int32_t footerHeight = 0;
    if (box->msgboxFooter) {
        for (const auto& button : box->msgboxFooter->children) {
            measure(button.get(), areaWidth(content), areaHeight(content));
            footerHeight = std::max(footerHeight, areaHeight(button->box));
        }
        setBox(box->msgboxFooter, content.x1, content.y2 - footerHeight + 1, areaWidth(content), footerHeight);
    }
    if (box->msgboxContent) {
        const int32_t textsHeight = areaHeight(content) - (box->msgboxFooter ? footerHeight + gap : 0);
        setBox(box->msgboxContent, content.x1, content.y1, areaWidth(content), textsHeight);
    }
}

void Layout::placeColumn(lv_obj_t* column, int32_t gap) {
    const ResolvedStyle s = resolveStyle(column, LV_PART_MAIN);
    const lv_area_t content = contentArea(column, s);
    int32_t y = content.y1;
    for (const auto& child : column->children) {
        // Texts take the column's width and wrap in it.
        lv_obj_t* item = child.get();
        const int32_t savedWidth = item->width;
        item->width = areaWidth(content);
        measure(item, areaWidth(content), areaHeight(content));
        item->width = savedWidth;
        shift(item, content.x1, y);
        y += areaHeight(item->box) + gap;
    }
}

void Layout::placeRow(lv_obj_t* row, int32_t gap) {
    const ResolvedStyle s = resolveStyle(row, LV_PART_MAIN);
    const lv_area_t content = contentArea(row, s);
    const int32_t count = int32_t(row->children.size());
    if (count == 0) return;
    const int32_t share = areaWidth(content) - gap * (count - 1);
    for (int32_t i = 0; i < count; ++i) {
        const int32_t x1 = content.x1 + share * i / count + gap * i;
        const int32_t x2 = content.x1 + share * (i + 1) / count + gap * i - 1;
        setBox(row->children[size_t(i)].get(), x1, content.y1, x2 - x1 + 1, areaHeight(content));
    }
}

void Layout::shapeLabel(lv_obj_t* label) {
    const ResolvedStyle s = resolveStyle(label, LV_PART_MAIN);
    const lv_area_t content = contentArea(label, s);
    const TextLayout::Box box{wrapsAtWidth(label) ? std::max(1, areaWidth(content)) : 0,
                              label->height == LV_SIZE_CONTENT ? -1 : std::max(0, areaHeight(content)),
                              label->longMode == LV_LABEL_LONG_DOT};
    label->shownLines = TextLayout::lines(label->text, s.textFont, s.textLetterSpace, s.textLineSpace, box);
}

void Layout::layoutKeys(lv_obj_t* keyboard) {
    if (keyboard->keys.empty()) return;
    const ResolvedStyle s = resolveStyle(keyboard, LV_PART_MAIN);
    const lv_area_t content = contentArea(keyboard, s);
    const int32_t rows = int32_t(keyboard->keys.back().row) + 1;
    const int32_t height = areaHeight(content) + s.padRow; // each row owns the gap below it
    for (int32_t row = 0; row < rows; ++row) {
        const int32_t y1 = content.y1 + height * row / rows;
        const int32_t y2 = content.y1 + height * (row + 1) / rows - s.padRow - 1;
        int32_t units = 0, count = 0;
        for (const Key& key : keyboard->keys)
            if (int32_t(key.row) == row) units += int32_t(key.width), ++count;
        if (count == 0) continue;
        const int32_t share = areaWidth(content) - s.padColumn * (count - 1);
        int32_t before = 0, index = 0;
        for (Key& key : keyboard->keys) {
            if (int32_t(key.row) != row) continue;
            const int32_t x1 = content.x1 + share * before / units + s.padColumn * index;
            before += int32_t(key.width);
            const int32_t x2 = content.x1 + share * before / units + s.padColumn * index - 1;
            key.box = {x1, y1, x2, y2};
            ++index;
        }
    }
}

}
