#pragma once
// The display's graphics layer: a retained tree of objects (plain objects, labels, lines, bars, sliders,
// buttons, message boxes, the keyboard), styles per part and state, a layout pass and a software renderer
// into an RGB565 picture that is written to the Linux framebuffer. The names follow the calls the pages
// make; only what the pages use is offered. Every call comes from one thread (the UI thread, or the board
// bring-up before the UI thread starts), so nothing in here locks.
#include <cstdint>
#include <vector>

// ---------------------------------------------------------------------------------------------------------
// Basic types
// ---------------------------------------------------------------------------------------------------------
struct lv_color_t {
    uint8_t blue;
    uint8_t green;
    uint8_t red;
};
using lv_opa_t = uint8_t;

struct lv_area_t {
    int32_t x1, y1, x2, y2; // inclusive corners
};

struct lv_point_precise_t {
    int32_t x, y;
};

struct lv_obj_t;     // an object of the tree; owned by its parent
struct lv_display_t; // the display (one per process)
struct lv_theme_t;   // the default theme

// A font: a typeface file of the Montserrat family (by weight) drawn through FreeType at a pixel size (em),
// or scaled so that its line is `lineHeight` pixels high; with both, the glyphs are centred in the line.
// Glyphs are rendered on first use.
struct lv_font_t {
    const char* name; // for logs and the test view
    int weight;       // 100..900: which face file of the family
    int pixelSize;    // em size in pixels; 0: derived from lineHeight
    int lineHeight;   // line height in pixels; 0: as high as the letters and digits reach at pixelSize
};

enum lv_color_format_t : uint8_t { LV_COLOR_FORMAT_RGB565 = 0x12 };
struct lv_image_header_t {
    lv_color_format_t cf;
    uint32_t w;
    uint32_t h;
    uint32_t stride; // bytes per row
};
struct lv_image_dsc_t {
    lv_image_header_t header;
    uint32_t data_size;
    const uint8_t* data; // RGB565 pixels, native byte order
};

// ---------------------------------------------------------------------------------------------------------
// Constants
// ---------------------------------------------------------------------------------------------------------
constexpr int32_t LV_SIZE_CONTENT = 0x7FFFF000; // size to the content (text, points or children)
constexpr int32_t LV_RADIUS_CIRCLE = 0x7FFF;    // as round as the box allows

constexpr lv_opa_t LV_OPA_TRANSP = 0;
constexpr lv_opa_t LV_OPA_0 = 0;
constexpr lv_opa_t LV_OPA_50 = 127;
constexpr lv_opa_t LV_OPA_100 = 255;
constexpr lv_opa_t LV_OPA_COVER = 255;

// A style selector is a part or-ed with a state.
using lv_part_t = uint32_t;
using lv_state_t = uint32_t;
using lv_style_selector_t = uint32_t;
constexpr lv_part_t LV_PART_MAIN = 0x000000;      // the object's box
constexpr lv_part_t LV_PART_INDICATOR = 0x020000; // the filled part of a bar or slider
constexpr lv_part_t LV_PART_KNOB = 0x030000;      // the slider's knob
constexpr lv_part_t LV_PART_ITEMS = 0x050000;     // the keys of the keyboard
constexpr lv_state_t LV_STATE_DEFAULT = 0x0000;
constexpr lv_state_t LV_STATE_CHECKED = 0x0001;

enum lv_align_t : uint8_t {
    LV_ALIGN_DEFAULT = 0, // top left
    LV_ALIGN_TOP_LEFT,
    LV_ALIGN_TOP_MID,
    LV_ALIGN_TOP_RIGHT,
    LV_ALIGN_BOTTOM_LEFT,
    LV_ALIGN_BOTTOM_MID,
    LV_ALIGN_BOTTOM_RIGHT,
    LV_ALIGN_LEFT_MID,
    LV_ALIGN_RIGHT_MID,
    LV_ALIGN_CENTER,
};

// Style values that callers combine or pass as plain numbers are plain numbers.
using lv_text_align_t = uint8_t;
constexpr lv_text_align_t LV_TEXT_ALIGN_AUTO = 0, LV_TEXT_ALIGN_LEFT = 1, LV_TEXT_ALIGN_CENTER = 2,
                          LV_TEXT_ALIGN_RIGHT = 3;
using lv_text_decor_t = uint8_t;
constexpr lv_text_decor_t LV_TEXT_DECOR_NONE = 0, LV_TEXT_DECOR_UNDERLINE = 1;
using lv_border_side_t = uint8_t; // a mask of sides
constexpr lv_border_side_t LV_BORDER_SIDE_NONE = 0x00, LV_BORDER_SIDE_BOTTOM = 0x01, LV_BORDER_SIDE_TOP = 0x02,
                           LV_BORDER_SIDE_LEFT = 0x04, LV_BORDER_SIDE_RIGHT = 0x08, LV_BORDER_SIDE_FULL = 0x0F;
using lv_grad_dir_t = uint8_t;
constexpr lv_grad_dir_t LV_GRAD_DIR_NONE = 0, LV_GRAD_DIR_VER = 1;

// How a label shows text that does not fit its box: wrapped onto further lines (clipped at the bottom), or
// cut on its last visible line with "...".
enum lv_label_long_mode_t : uint8_t { LV_LABEL_LONG_WRAP = 0, LV_LABEL_LONG_DOT = 1 };
constexpr lv_label_long_mode_t LV_LABEL_LONG_MODE_WRAP = LV_LABEL_LONG_WRAP;
constexpr lv_label_long_mode_t LV_LABEL_LONG_MODE_DOTS = LV_LABEL_LONG_DOT;

// Normal: the indicator runs from the minimum to the value; range: from the start value to the value.
enum lv_bar_mode_t : uint8_t { LV_BAR_MODE_NORMAL = 0, LV_BAR_MODE_RANGE = 2 };

// Nothing animates: every change is shown at the next render, whichever is asked.
enum lv_anim_enable_t : uint8_t { LV_ANIM_OFF = 0, LV_ANIM_ON = 1 };

using lv_obj_flag_t = uint32_t;
constexpr lv_obj_flag_t LV_OBJ_FLAG_SCROLLABLE = 0x0010; // set on new objects; kept for the test view

// Palette indexes (0 red, 5 blue, ...); an index past the last gives black.
using lv_palette_t = uint8_t;
constexpr lv_palette_t LV_PALETTE_RED = 0, LV_PALETTE_PINK = 1, LV_PALETTE_PURPLE = 2, LV_PALETTE_DEEP_PURPLE = 3,
                       LV_PALETTE_INDIGO = 4, LV_PALETTE_BLUE = 5, LV_PALETTE_LIGHT_BLUE = 6, LV_PALETTE_CYAN = 7,
                       LV_PALETTE_TEAL = 8, LV_PALETTE_GREEN = 9, LV_PALETTE_LIGHT_GREEN = 10, LV_PALETTE_LIME = 11,
                       LV_PALETTE_YELLOW = 12, LV_PALETTE_AMBER = 13, LV_PALETTE_ORANGE = 14,
                       LV_PALETTE_DEEP_ORANGE = 15, LV_PALETTE_BROWN = 16, LV_PALETTE_BLUE_GREY = 17,
                       LV_PALETTE_GREY = 18, LV_PALETTE_LAST = 19;

// Keyboard modes: the keyboard shows one of four maps set by the caller.
enum lv_keyboard_mode_t : uint8_t {
    LV_KEYBOARD_MODE_USER_1 = 4,
    LV_KEYBOARD_MODE_USER_2,
    LV_KEYBOARD_MODE_USER_3,
    LV_KEYBOARD_MODE_USER_4,
};
// A key's control word: the low four bits are its relative width (0 counts as 1); CHECKED draws it in the
// checked state of the items part.
using lv_buttonmatrix_ctrl_t = uint32_t;
constexpr lv_buttonmatrix_ctrl_t LV_BUTTONMATRIX_CTRL_WIDTH_MASK = 0x000F;
constexpr lv_buttonmatrix_ctrl_t LV_BUTTONMATRIX_CTRL_CHECKED = 0x0080;

// The symbol glyphs the pages use (UTF-8 of private-use code points, drawn from the symbol face).
#define LV_SYMBOL_RIGHT "\xEF\x81\x94"     /* U+F054 */
#define LV_SYMBOL_MINUS "\xEF\x81\xA8"     /* U+F068 */
#define LV_SYMBOL_WARNING "\xEF\x81\xB1"   /* U+F071 */
#define LV_SYMBOL_OK "\xEF\x80\x8C"        /* U+F00C */
#define LV_SYMBOL_CLOSE "\xEF\x80\x8D"     /* U+F00D */
#define LV_SYMBOL_BACKSPACE "\xEF\x95\x9A" /* U+F55A */

// ---------------------------------------------------------------------------------------------------------
// Styles
// ---------------------------------------------------------------------------------------------------------
namespace gfx {
enum class Prop : uint8_t {
    BgColor,
    BgOpa,
    BgGradColor,
    BgGradDir,
    BgMainStop,
    BgGradStop,
    BgImageSrc,
    BgImageTiled,
    BgImageRecolor,
    BgImageRecolorOpa,
    BorderColor,
    BorderOpa,
    BorderWidth,
    BorderSide,
    BorderPost,
    ShadowWidth,
    ShadowColor,
    ShadowOpa,
    ShadowSpread,
    PadTop,
    PadBottom,
    PadLeft,
    PadRight,
    PadRow,
    PadColumn,
    Radius,
    TextColor,
    TextOpa,
    TextFont,
    TextAlign,
    TextLetterSpace,
    TextLineSpace,
    TextDecor,
    LineColor,
    LineWidth,
    Count
};
struct PropValue {
    Prop prop;
    int32_t number;      // numbers, opacities, enums, colours as 0xRRGGBB
    const void* pointer; // fonts and images
};
}

// A set of style properties. An object refers to a shared style (lv_obj_add_style), so the style must live
// as long as the objects that use it; lv_style_init empties it.
struct lv_style_t {
    std::vector<gfx::PropValue> values;
};
void lv_style_init(lv_style_t* style);

// ---------------------------------------------------------------------------------------------------------
// Library, display, theme
// ---------------------------------------------------------------------------------------------------------
// Nothing needs setting up ahead (faces open and the display is made on first use); kept so that start-up
// reads as it does with any graphics library.
void lv_init();
// Deletes the display with every object on it and closes the faces; the next use makes and opens them anew.
void lv_deinit();
// Renders the active screen and writes the picture to the framebuffer. Returns LV_NO_TIMER_READY: the
// layer runs no timers of its own.
constexpr uint32_t LV_NO_TIMER_READY = 0xFFFFFFFF;
uint32_t lv_timer_handler();

// The display that draws into the Linux framebuffer, 320 x 170 with the dark theme (blue, red, the 14-pixel
// font) until told otherwise. There is one display per process: a second call returns the same one. It is
// the default display.
lv_display_t* lv_linux_fbdev_create();
// Opens the framebuffer. On the host a path under /dev (such as "/dev/fb0") names a regular file of the
// same name in the state folder ($PEDAL_HOME/fb0): 320 x 240 RGB565, created when missing. The display's
// resolution becomes the framebuffer's.
void lv_linux_fbdev_set_file(lv_display_t* display, const char* path);
// Where the display's picture starts in the framebuffer.
void lv_display_set_offset(lv_display_t* display, int32_t x, int32_t y);
void lv_display_set_resolution(lv_display_t* display, int32_t width, int32_t height);
int32_t lv_display_get_horizontal_resolution(const lv_display_t* display);
int32_t lv_display_get_vertical_resolution(const lv_display_t* display);
lv_display_t* lv_display_get_default();
void lv_display_set_theme(lv_display_t* display, lv_theme_t* theme);

// The default theme: what objects look like where no style of their own says otherwise. Dark or light,
// with a primary colour for bars, sliders and buttons and a default font. There is one default theme;
// calling this again changes it.
lv_theme_t* lv_theme_default_init(lv_display_t* display, lv_color_t primary, lv_color_t secondary, bool dark,
                                  const lv_font_t* font);

lv_color_t lv_palette_main(lv_palette_t palette);
lv_color_t lv_color_hex(uint32_t rgb);
lv_color_t lv_color_white();
lv_color_t lv_color_black();

// The screen the pages draw on. Without a display yet, this creates one that renders into memory only.
lv_obj_t* lv_screen_active();

// ---------------------------------------------------------------------------------------------------------
// Objects
// ---------------------------------------------------------------------------------------------------------
// A null parent means the active screen.
lv_obj_t* lv_obj_create(lv_obj_t* parent);
// Deletes the object and its children; deleting the screen only empties it.
void lv_obj_delete(lv_obj_t* obj);
// Deletes every child of the object.
void lv_obj_clean(lv_obj_t* obj);
lv_obj_t* lv_obj_get_parent(const lv_obj_t* obj);
uint32_t lv_obj_get_child_count(const lv_obj_t* obj);

// Position: an offset from the alignment's anchor in the parent's content area (padding and border inside).
void lv_obj_set_pos(lv_obj_t* obj, int32_t x, int32_t y);
void lv_obj_set_x(lv_obj_t* obj, int32_t x);
void lv_obj_set_y(lv_obj_t* obj, int32_t y);
void lv_obj_set_size(lv_obj_t* obj, int32_t width, int32_t height); // pixels or LV_SIZE_CONTENT
void lv_obj_set_width(lv_obj_t* obj, int32_t width);
void lv_obj_set_height(lv_obj_t* obj, int32_t height);
void lv_obj_set_align(lv_obj_t* obj, lv_align_t align);
void lv_obj_align(lv_obj_t* obj, lv_align_t align, int32_t x, int32_t y);
void lv_obj_center(lv_obj_t* obj);

void lv_obj_add_flag(lv_obj_t* obj, lv_obj_flag_t flag);
void lv_obj_remove_flag(lv_obj_t* obj, lv_obj_flag_t flag);
bool lv_obj_has_flag(const lv_obj_t* obj, lv_obj_flag_t flag);
void lv_obj_add_state(lv_obj_t* obj, lv_state_t state);
void lv_obj_remove_state(lv_obj_t* obj, lv_state_t state);
bool lv_obj_has_state(const lv_obj_t* obj, lv_state_t state);

// Shifts the children left by x pixels, kept between 0 and the width the children reach past the box.
void lv_obj_scroll_to_x(lv_obj_t* obj, int32_t x, lv_anim_enable_t anim);

// Shared styles: a later added style wins over an earlier one for the same state; a style of a more
// specific state (checked) wins over any default-state style; the object's own properties (the setters
// below) win over shared styles of the same state.
void lv_obj_add_style(lv_obj_t* obj, const lv_style_t* style, lv_style_selector_t selector);

// Style properties, each as a setter on an object (for a selector) and on a shared style.
#define GFX_STYLE_PROPERTIES(X)                                                                                        \
    X(bg_color, BgColor, lv_color_t)                                                                                   \
    X(bg_opa, BgOpa, lv_opa_t)                                                                                         \
    X(bg_grad_color, BgGradColor, lv_color_t)                                                                          \
    X(bg_grad_dir, BgGradDir, lv_grad_dir_t)                                                                           \
    X(bg_main_stop, BgMainStop, int32_t) /* 0..255 along the box */                                                    \
    X(bg_grad_stop, BgGradStop, int32_t)                                                                               \
    X(bg_image_src, BgImageSrc, const void*) /* a const lv_image_dsc_t* */                                             \
    X(bg_image_tiled, BgImageTiled, bool)                                                                              \
    X(bg_image_recolor, BgImageRecolor, lv_color_t)                                                                    \
    X(bg_image_recolor_opa, BgImageRecolorOpa, lv_opa_t)                                                               \
    X(border_color, BorderColor, lv_color_t)                                                                           \
    X(border_opa, BorderOpa, lv_opa_t)                                                                                 \
    X(border_width, BorderWidth, int32_t)                                                                              \
    X(border_side, BorderSide, lv_border_side_t)                                                                       \
    X(border_post, BorderPost, bool) /* drawn after the children */                                                    \
    X(shadow_width, ShadowWidth, int32_t)                                                                              \
    X(shadow_color, ShadowColor, lv_color_t)                                                                           \
    X(shadow_opa, ShadowOpa, lv_opa_t)                                                                                 \
    X(shadow_spread, ShadowSpread, int32_t)                                                                            \
    X(pad_top, PadTop, int32_t)                                                                                        \
    X(pad_bottom, PadBottom, int32_t)                                                                                  \
    X(pad_left, PadLeft, int32_t)                                                                                      \
    X(pad_right, PadRight, int32_t)                                                                                    \
    X(pad_row, PadRow, int32_t)                                                                                        \
    X(pad_column, PadColumn, int32_t)                                                                                  \
    X(radius, Radius, int32_t)                                                                                         \
    X(text_color, TextColor, lv_color_t)                                                                               \
    X(text_opa, TextOpa, lv_opa_t)                                                                                     \
    X(text_font, TextFont, const lv_font_t*)                                                                           \
    X(text_align, TextAlign, lv_text_align_t)                                                                          \
    X(text_letter_space, TextLetterSpace, int32_t)                                                                     \
    X(text_line_space, TextLineSpace, int32_t)                                                                         \
    X(text_decor, TextDecor, lv_text_decor_t)                                                                          \
    X(line_color, LineColor, lv_color_t)                                                                               \
    X(line_width, LineWidth, int32_t)

#define GFX_DECLARE_SETTERS(name, prop, type)                                                                          \
    void lv_obj_set_style_##name(lv_obj_t* obj, type value, lv_style_selector_t selector);                             \
    void lv_style_set_##name(lv_style_t* style, type value);
GFX_STYLE_PROPERTIES(GFX_DECLARE_SETTERS)
#undef GFX_DECLARE_SETTERS

void lv_obj_set_style_pad_all(lv_obj_t* obj, int32_t pad, lv_style_selector_t selector);
void lv_obj_set_style_pad_hor(lv_obj_t* obj, int32_t pad, lv_style_selector_t selector);
void lv_obj_set_style_pad_ver(lv_obj_t* obj, int32_t pad, lv_style_selector_t selector);
void lv_style_set_pad_all(lv_style_t* style, int32_t pad);

// Text properties (text_*) that an object does not set come from its parent.

// ---------------------------------------------------------------------------------------------------------
// Widgets
// ---------------------------------------------------------------------------------------------------------
// Label: text in UTF-8 (empty when new); a byte that is not part of valid UTF-8 is shown as the Latin-1
// character of that value. Sized to its text by default, wrapping at a set width; the text is clipped to
// the label's box.
lv_obj_t* lv_label_create(lv_obj_t* parent);
void lv_label_set_text(lv_obj_t* label, const char* text);
void lv_label_set_text_fmt(lv_obj_t* label, const char* format, ...) __attribute__((format(printf, 2, 3)));
const char* lv_label_get_text(const lv_obj_t* label);
void lv_label_set_long_mode(lv_obj_t* label, lv_label_long_mode_t mode);

// Line: a polyline through points relative to the object's top left (copied). Sized to its points.
lv_obj_t* lv_line_create(lv_obj_t* parent);
void lv_line_set_points(lv_obj_t* line, const lv_point_precise_t points[], uint32_t count);

// Bar: horizontal when at least as wide as high, else vertical (filling from the bottom). Range 0..100.
lv_obj_t* lv_bar_create(lv_obj_t* parent);
void lv_bar_set_range(lv_obj_t* bar, int32_t min, int32_t max);
void lv_bar_set_value(lv_obj_t* bar, int32_t value, lv_anim_enable_t anim);
void lv_bar_set_start_value(lv_obj_t* bar, int32_t value, lv_anim_enable_t anim);
void lv_bar_set_mode(lv_obj_t* bar, lv_bar_mode_t mode);
int32_t lv_bar_get_value(const lv_obj_t* bar);

// Slider: a bar with a round knob at the value; the knob is larger than the bar by its part's padding.
lv_obj_t* lv_slider_create(lv_obj_t* parent);
void lv_slider_set_range(lv_obj_t* slider, int32_t min, int32_t max);
void lv_slider_set_value(lv_obj_t* slider, int32_t value, lv_anim_enable_t anim);
int32_t lv_slider_get_value(const lv_obj_t* slider);

lv_obj_t* lv_button_create(lv_obj_t* parent);

// Message box: centred on its parent; texts stack in its content area, footer buttons share its bottom
// row. Both calls return the new label or button for styling.
lv_obj_t* lv_msgbox_create(lv_obj_t* parent);
lv_obj_t* lv_msgbox_add_text(lv_obj_t* msgbox, const char* text);
lv_obj_t* lv_msgbox_add_footer_button(lv_obj_t* msgbox, const char* text);

// Keyboard: a matrix of keys laid out from a map ("\n" starts a row; the map ends with "" or a null
// entry) and one control word per key. The map's strings are not copied: they must outlive the keyboard.
// Starts at the top left of its parent, in mode USER_1 with no map (no keys).
lv_obj_t* lv_keyboard_create(lv_obj_t* parent);
void lv_keyboard_set_map(lv_obj_t* keyboard, lv_keyboard_mode_t mode, const char* const map[],
                         const lv_buttonmatrix_ctrl_t ctrl[]);
// Shows the mode's map with its own control words (flags set on keys before are dropped).
void lv_keyboard_set_mode(lv_obj_t* keyboard, lv_keyboard_mode_t mode);
void lv_buttonmatrix_set_button_ctrl(lv_obj_t* keyboard, uint32_t key, lv_buttonmatrix_ctrl_t ctrl);
void lv_buttonmatrix_clear_button_ctrl(lv_obj_t* keyboard, uint32_t key, lv_buttonmatrix_ctrl_t ctrl);

// ---------------------------------------------------------------------------------------------------------
// Fonts and images
// ---------------------------------------------------------------------------------------------------------
extern const lv_font_t lv_font_montserrat_10;
extern const lv_font_t lv_font_montserrat_12;
extern const lv_font_t lv_font_montserrat_14;
extern const lv_font_t lv_font_montserrat_16;
extern const lv_font_t lv_font_montserrat_18;
extern const lv_font_t lv_font_montserrat_20;
extern const lv_font_t lv_font_montserrat_22;
extern const lv_font_t lv_font_montserrat_24;
extern const lv_font_t lv_font_montserrat_26;
extern const lv_font_t lv_font_montserrat_28;
extern const lv_font_t lv_font_montserrat_30;
extern const lv_font_t lv_font_montserrat_32;
extern const lv_font_t lv_font_montserrat_34;
extern const lv_font_t lv_font_montserrat_36;
extern const lv_font_t lv_font_montserrat_38;
extern const lv_font_t lv_font_montserrat_40;
extern const lv_font_t lv_font_montserrat_42;
extern const lv_font_t lv_font_montserrat_44;
extern const lv_font_t lv_font_montserrat_46;
extern const lv_font_t lv_font_montserrat_48;
// The program's own faces: the preset number (a 101-pixel line) and the tempo digits (a 24-pixel line).
extern const lv_font_t ui_font_arzet_light102;
extern const lv_font_t ui_font_arzet24;
// A strip of all hues at full saturation, 90 x 10, red at both ends: tiled behind the hue slider.
extern const lv_image_dsc_t img_hue_10;
