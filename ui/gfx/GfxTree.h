#pragma once
// The insides of the graphics layer shared by its parts: the object tree, the display, the theme and the
// style of a part as the renderer sees it.
#include "ui/gfx/Gfx.h"
#include "ui/gfx/Framebuffer.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace gfx {

enum class Kind : uint8_t {
    Screen,
    Obj,
    Label,
    Line,
    Bar,
    Slider,
    Button,
    Msgbox,
    MsgboxContent,
    MsgboxFooter,
    Keyboard
};
const char* kindName(Kind kind);

// Every style property of one part in one state, after theme, shared styles, the object's own properties
// and inheritance have been applied. Colours are 0xRRGGBB.
struct ResolvedStyle {
    uint32_t bgColor = 0xFFFFFF;
    uint8_t bgOpa = LV_OPA_TRANSP;
    uint32_t bgGradColor = 0x000000;
    uint8_t bgGradDir = LV_GRAD_DIR_NONE;
    int32_t bgMainStop = 0;
    int32_t bgGradStop = 255;
    const lv_image_dsc_t* bgImage = nullptr;
    bool bgImageTiled = false;
    uint32_t bgImageRecolor = 0x000000;
    uint8_t bgImageRecolorOpa = LV_OPA_TRANSP;
    uint32_t borderColor = 0x000000;
    uint8_t borderOpa = LV_OPA_COVER;
    int32_t borderWidth = 0;
    uint8_t borderSide = LV_BORDER_SIDE_FULL;
    bool borderPost = false;
    int32_t shadowWidth = 0;
    uint32_t shadowColor = 0x000000;
    uint8_t shadowOpa = LV_OPA_COVER;
    int32_t shadowSpread = 0;
    int32_t padTop = 0, padBottom = 0, padLeft = 0, padRight = 0, padRow = 0, padColumn = 0;
    int32_t radius = 0;
    uint32_t textColor = 0x000000;
    uint8_t textOpa = LV_OPA_COVER;
    const lv_font_t* textFont = nullptr;
    uint8_t textAlign = LV_TEXT_ALIGN_AUTO;
    int32_t textLetterSpace = 0;
    int32_t textLineSpace = 0;
    uint8_t textDecor = LV_TEXT_DECOR_NONE;
    uint32_t lineColor = 0x000000;
    int32_t lineWidth = 1;

    void apply(const PropValue& value);
    void inheritText(const ResolvedStyle& parent);
};

// One key of the keyboard as laid out.
struct Key {
    const char* text;
    uint32_t row;
    uint32_t width; // relative width
    lv_buttonmatrix_ctrl_t ctrl;
    lv_area_t box;
};

struct SharedStyle {
    lv_style_selector_t selector;
    const lv_style_t* style;
};

ResolvedStyle resolveStyle(const lv_obj_t* obj, lv_part_t part, lv_state_t state);
inline ResolvedStyle resolveStyle(const lv_obj_t* obj, lv_part_t part);

// The display everything draws on, or null before one exists.
lv_display_t* currentDisplay();
}

struct lv_obj_t {
    explicit lv_obj_t(gfx::Kind kind) : kind(kind) {}

    gfx::Kind kind;
    lv_obj_t* parent = nullptr;
    std::vector<std::unique_ptr<lv_obj_t>> children;

    // Geometry as asked for.
    int32_t x = 0, y = 0;
    int32_t width = LV_SIZE_CONTENT, height = LV_SIZE_CONTENT;
    lv_align_t align = LV_ALIGN_DEFAULT;
    int32_t scrollRequest = 0;
    lv_obj_flag_t flags = LV_OBJ_FLAG_SCROLLABLE;
    lv_state_t state = LV_STATE_DEFAULT;

    std::vector<std::pair<lv_style_selector_t, lv_style_t>> localStyles;
    std::vector<gfx::SharedStyle> sharedStyles;

    // Label
    std::string text;
    lv_label_long_mode_t longMode = LV_LABEL_LONG_WRAP;
    // Line
    std::vector<lv_point_precise_t> points;
    // Bar and slider
    int32_t rangeMin = 0, rangeMax = 100, value = 0, startValue = 0;
    lv_bar_mode_t barMode = LV_BAR_MODE_NORMAL;
    // Keyboard
    struct KeyMap {
        const char* const* map = nullptr;
        const lv_buttonmatrix_ctrl_t* ctrl = nullptr;
    };
    KeyMap keyMaps[4];
    lv_keyboard_mode_t keyboardMode = LV_KEYBOARD_MODE_USER_1;
    std::vector<gfx::Key> keys;
    // Message box
    lv_obj_t* msgboxContent = nullptr;
    lv_obj_t* msgboxFooter = nullptr;

    // Set by the layout pass.
    lv_area_t box{0, 0, -1, -1};
    int32_t scrollX = 0;
    std::vector<std::string> shownLines; // a label's text as drawn, one entry per line
};

struct lv_theme_t {
    lv_color_t primary{};
    lv_color_t secondary{};
    bool dark = true;
    const lv_font_t* font = nullptr;
    struct Rule {
        gfx::Kind kind;
        lv_style_selector_t selector;
        lv_style_t style;
    };
    std::vector<Rule> rules;
};

struct lv_display_t {
    int32_t width = 320, height = 170;
    int32_t offsetX = 0, offsetY = 0;
    std::unique_ptr<lv_obj_t> screen;
    lv_theme_t* theme = nullptr;
    std::vector<uint16_t> pixels; // RGB565, width x height
    gfx::Framebuffer framebuffer;
};

inline gfx::ResolvedStyle gfx::resolveStyle(const lv_obj_t* obj, lv_part_t part) {
    return resolveStyle(obj, part, obj->state);
}
