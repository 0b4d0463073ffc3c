// Style properties: setting them on shared styles and objects, and resolving what a part of an object
// shows from the theme, its shared styles, its own properties and its parent's text properties.
#include "ui/gfx/GfxTree.h"

#include <algorithm>
#include <initializer_list>
#include <utility>
#include <type_traits>

namespace gfx {

namespace {
int32_t number(lv_color_t color) {
    return int32_t(uint32_t(color.red) << 16 | uint32_t(color.green) << 8 | color.blue);
}
int32_t number(int32_t value) { return value; }
int32_t number(bool value) { return value ? 1 : 0; }
int32_t number(uint8_t value) { return value; }

template <typename T>
PropValue makeValue(Prop prop, T value) {
    if constexpr (std::is_pointer_v<T>) return {prop, 0, value};
    else return {prop, number(value), nullptr};
}

void setValue(lv_style_t& style, const PropValue& value) {
    for (PropValue& existing : style.values) {
        if (existing.prop == value.prop) {
            existing = value;
            return;
        }
    }
    style.values.push_back(value);
}

lv_style_t& localStyle(lv_obj_t* obj, lv_style_selector_t selector) {
    for (auto& [localSelector, style] : obj->localStyles)
        if (localSelector == selector) return style;
    obj->localStyles.emplace_back(selector, lv_style_t{});
    return obj->localStyles.back().second;
}

constexpr lv_part_t partOf(lv_style_selector_t selector) { return selector & 0xFF0000; }
constexpr lv_state_t stateOf(lv_style_selector_t selector) { return selector & 0x00FFFF; }

// Styles that apply to a part in a state, in the order they are laid over each other: a more specific state
// last; for the same state the theme first, then shared styles in the order added, then the object's own.
struct Layer {
    lv_state_t state;
    int32_t rank;
    const lv_style_t* style;
};
}

const char* kindName(Kind kind) {
    switch (kind) {
    case Kind::Screen:
        return "screen";
    case Kind::Obj:
        return "obj";
    case Kind::Label:
        return "label";
    case Kind::Line:
        return "line";
    case Kind::Bar:
        return "bar";
    case Kind::Slider:
        return "slider";
    case Kind::Button:
        return "button";
    case Kind::Msgbox:
        return "msgbox";
    case Kind::MsgboxContent:
        return "msgbox_content";
    case Kind::MsgboxFooter:
        return "msgbox_footer";
    case Kind::Keyboard:
        return "keyboard";
    }
    return "?";
}

namespace {
template <class T>
using Members = std::initializer_list<std::pair<Prop, T ResolvedStyle::*>>;

const Members<uint32_t> colours = {{Prop::BgColor, &ResolvedStyle::bgColor},
                                   {Prop::BgGradColor, &ResolvedStyle::bgGradColor},
                                   {Prop::BgImageRecolor, &ResolvedStyle::bgImageRecolor},
                                   {Prop::BorderColor, &ResolvedStyle::borderColor},
                                   {Prop::ShadowColor, &ResolvedStyle::shadowColor},
                                   {Prop::TextColor, &ResolvedStyle::textColor},
                                   {Prop::LineColor, &ResolvedStyle::lineColor}};
// Opacities and enumerations.
const Members<uint8_t> bytes = {{Prop::BgOpa, &ResolvedStyle::bgOpa},
                                {Prop::BgGradDir, &ResolvedStyle::bgGradDir},
                                {Prop::BgImageRecolorOpa, &ResolvedStyle::bgImageRecolorOpa},
                                {Prop::BorderOpa, &ResolvedStyle::borderOpa},
                                {Prop::ShadowOpa, &ResolvedStyle::shadowOpa},
                                {Prop::TextOpa, &ResolvedStyle::textOpa},
                                {Prop::TextAlign, &ResolvedStyle::textAlign},
                                {Prop::TextDecor, &ResolvedStyle::textDecor}};
const Members<int32_t> stops = {{Prop::BgMainStop, &ResolvedStyle::bgMainStop},
                                {Prop::BgGradStop, &ResolvedStyle::bgGradStop}};
// Lengths that cannot be negative.
const Members<int32_t> lengths = {{Prop::BorderWidth, &ResolvedStyle::borderWidth},
                                  {Prop::ShadowWidth, &ResolvedStyle::shadowWidth},
                                  {Prop::ShadowSpread, &ResolvedStyle::shadowSpread},
                                  {Prop::Radius, &ResolvedStyle::radius},
                                  {Prop::LineWidth, &ResolvedStyle::lineWidth}};
// Paddings and spacings, taken as they are.
const Members<int32_t> numbers = {{Prop::PadTop, &ResolvedStyle::padTop},
                                  {Prop::PadBottom, &ResolvedStyle::padBottom},
                                  {Prop::PadLeft, &ResolvedStyle::padLeft},
                                  {Prop::PadRight, &ResolvedStyle::padRight},
                                  {Prop::PadRow, &ResolvedStyle::padRow},
                                  {Prop::PadColumn, &ResolvedStyle::padColumn},
                                  {Prop::TextLetterSpace, &ResolvedStyle::textLetterSpace},
                                  {Prop::TextLineSpace, &ResolvedStyle::textLineSpace}};

template <class T>
bool setMember(ResolvedStyle& style, const Members<T>& members, Prop prop, T value) {
    for (const auto& [key, member] : members) {
        if (key == prop) {
            style.*member = value;
            return true;
        }
    }
    return false;
}
}

void ResolvedStyle::apply(const PropValue& v) {
    // Most properties only convert their number; the tables say which member takes it.
    if (setMember(*this, colours, v.prop, uint32_t(v.number) & 0xFFFFFF) ||
        setMember(*this, bytes, v.prop, uint8_t(std::clamp(v.number, 0, 255))) ||
        setMember(*this, stops, v.prop, std::clamp(v.number, 0, 255)) ||
        setMember(*this, lengths, v.prop, std::max(0, v.number)) || setMember(*this, numbers, v.prop, v.number))
        return;
    switch (v.prop) {
    case Prop::BgImageSrc:
        bgImage = static_cast<const lv_image_dsc_t*>(v.pointer);
        break;
    case Prop::BgImageTiled:
        bgImageTiled = v.number != 0;
        break;
    case Prop::BorderSide:
        borderSide = uint8_t(v.number & LV_BORDER_SIDE_FULL);
        break;
    case Prop::BorderPost:
        borderPost = v.number != 0;
        break;
    case Prop::TextFont:
        if (v.pointer) textFont = static_cast<const lv_font_t*>(v.pointer);
        break;
    default:
        break;
    }
}

void ResolvedStyle::inheritText(const ResolvedStyle& parent) {
    textColor = parent.textColor;
    textOpa = parent.textOpa;
    textFont = parent.textFont;
    textAlign = parent.textAlign;
    textLetterSpace = parent.textLetterSpace;
    textLineSpace = parent.textLineSpace;
    textDecor = parent.textDecor;
}

ResolvedStyle resolveStyle(const lv_obj_t* obj, lv_part_t part, lv_state_t state) {
    ResolvedStyle resolved;
    lv_display_t* display = currentDisplay();
    const lv_theme_t* theme = display ? display->theme : nullptr;
    if (part != LV_PART_MAIN) resolved.inheritText(resolveStyle(obj, LV_PART_MAIN, state));
    else if (obj->parent) resolved.inheritText(resolveStyle(obj->parent, LV_PART_MAIN));
    else resolved.textFont = theme && theme->font ? theme->font : &lv_font_montserrat_14;

    std::vector<Layer> layers;
    const auto consider = [&](lv_style_selector_t selector, int32_t rank, const lv_style_t* style) {
        const lv_state_t wanted = stateOf(selector);
        if (partOf(selector) == part && (wanted & ~state) == 0) layers.push_back({wanted, rank, style});
    };
    if (theme)
        for (const auto& rule : theme->rules)
            if (rule.kind == obj->kind) consider(rule.selector, 0, &rule.style);
    int32_t rank = 1;
    for (const SharedStyle& shared : obj->sharedStyles) consider(shared.selector, rank++, shared.style);
    for (const auto& [selector, style] : obj->localStyles) consider(selector, 1 << 20, &style);
    std::stable_sort(layers.begin(), layers.end(), [](const Layer& a, const Layer& b) {
        return a.state != b.state ? a.state < b.state : a.rank < b.rank;
    });
    for (const Layer& layer : layers)
        for (const PropValue& value : layer.style->values) resolved.apply(value);
    return resolved;
}

}

using namespace gfx;

void lv_style_init(lv_style_t* style) {
    if (style) style->values.clear();
}

void lv_obj_add_style(lv_obj_t* obj, const lv_style_t* style, lv_style_selector_t selector) {
    if (obj && style) obj->sharedStyles.push_back({selector, style});
}

#define GFX_DEFINE_SETTERS(name, prop, type)                                                                           \
    void lv_obj_set_style_##name(lv_obj_t* obj, type value, lv_style_selector_t selector) {                            \
        if (obj) setValue(localStyle(obj, selector), makeValue(Prop::prop, value));                                    \
    }                                                                                                                  \
    void lv_style_set_##name(lv_style_t* style, type value) {                                                          \
        if (style) setValue(*style, makeValue(Prop::prop, value));                                                     \
    }
GFX_STYLE_PROPERTIES(GFX_DEFINE_SETTERS)
#undef GFX_DEFINE_SETTERS

void lv_obj_set_style_pad_all(lv_obj_t* obj, int32_t pad, lv_style_selector_t selector) {
    lv_obj_set_style_pad_hor(obj, pad, selector);
    lv_obj_set_style_pad_ver(obj, pad, selector);
}

void lv_obj_set_style_pad_hor(lv_obj_t* obj, int32_t pad, lv_style_selector_t selector) {
    lv_obj_set_style_pad_left(obj, pad, selector);
    lv_obj_set_style_pad_right(obj, pad, selector);
}

void lv_obj_set_style_pad_ver(lv_obj_t* obj, int32_t pad, lv_style_selector_t selector) {
    lv_obj_set_style_pad_top(obj, pad, selector);
    lv_obj_set_style_pad_bottom(obj, pad, selector);
}

void lv_style_set_pad_all(lv_style_t* style, int32_t pad) {
    lv_style_set_pad_top(style, pad);
    lv_style_set_pad_bottom(style, pad);
    lv_style_set_pad_left(style, pad);
    lv_style_set_pad_right(style, pad);
}

lv_color_t lv_color_hex(uint32_t rgb) {
    return {uint8_t(rgb & 0xFF), uint8_t((rgb >> 8) & 0xFF), uint8_t((rgb >> 16) & 0xFF)};
}

lv_color_t lv_color_white() { return lv_color_hex(0xFFFFFF); }

lv_color_t lv_color_black() { return lv_color_hex(0x000000); }

lv_color_t lv_palette_main(lv_palette_t palette) {
    // The material design palette's main shades.
    static constexpr uint32_t mains[LV_PALETTE_LAST] = {
        0xF44336, 0xE91E63, 0x9C27B0, 0x673AB7, 0x3F51B5, 0x2196F3, 0x03A9F4, 0x00BCD4, 0x009688, 0x4CAF50,
        0x8BC34A, 0xCDDC39, 0xFFEB3B, 0xFFC107, 0xFF9800, 0xFF5722, 0x795548, 0x607D8B, 0x9E9E9E,
    };
    return lv_color_hex(palette < LV_PALETTE_LAST ? mains[palette] : 0x000000);
}
