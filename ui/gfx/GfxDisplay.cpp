// The display: its picture, its screen and theme, and the render that writes the picture to the framebuffer.
#include "ui/gfx/Canvas.h"
#include "ui/gfx/FontCache.h"
#include "ui/gfx/GfxTree.h"
#include "ui/gfx/Layout.h"
#include "ui/gfx/Renderer.h"
#include "ui/gfx/Theme.h"

using namespace gfx;

namespace {
std::unique_ptr<lv_display_t> display;
lv_theme_t defaultTheme;

void resize(lv_display_t* d, int32_t width, int32_t height) {
    d->width = std::max(1, width);
    d->height = std::max(1, height);
    d->pixels.assign(size_t(d->width) * d->height, 0);
}
}

lv_display_t* gfx::currentDisplay() { return display.get(); }

void lv_init() {}

lv_display_t* lv_linux_fbdev_create() {
    if (display) return display.get();
    display = std::make_unique<lv_display_t>();
    display->screen = std::make_unique<lv_obj_t>(Kind::Screen);
    resize(display.get(), display->width, display->height);
    // The theme the layer is built with: dark, blue and red, the 14-pixel font.
    lv_display_set_theme(display.get(),
                         lv_theme_default_init(display.get(), lv_palette_main(LV_PALETTE_BLUE),
                                               lv_palette_main(LV_PALETTE_RED), true, &lv_font_montserrat_14));
    return display.get();
}

void lv_linux_fbdev_set_file(lv_display_t* d, const char* path) {
    if (!d || !path) return;
    if (d->framebuffer.open(path)) resize(d, d->framebuffer.width(), d->framebuffer.height());
}

void lv_display_set_offset(lv_display_t* d, int32_t x, int32_t y) {
    if (!d) return;
    d->offsetX = x;
    d->offsetY = y;
}

void lv_display_set_resolution(lv_display_t* d, int32_t width, int32_t height) {
    if (d) resize(d, width, height);
}

int32_t lv_display_get_horizontal_resolution(const lv_display_t* d) {
    d = d ? d : display.get();
    return d ? d->width : 0;
}

int32_t lv_display_get_vertical_resolution(const lv_display_t* d) {
    d = d ? d : display.get();
    return d ? d->height : 0;
}

lv_display_t* lv_display_get_default() { return display.get(); }

void lv_display_set_theme(lv_display_t* d, lv_theme_t* theme) {
    if (d) d->theme = theme;
}

lv_theme_t* lv_theme_default_init(lv_display_t*, lv_color_t primary, lv_color_t secondary, bool dark,
                                  const lv_font_t* font) {
    font = font ? font : &lv_font_montserrat_14;
    // Pages set the theme on every redraw; the styles are rebuilt only when something changed.
    const auto same = [](lv_color_t a, lv_color_t b) {
        return a.red == b.red && a.green == b.green && a.blue == b.blue;
    };
    if (!defaultTheme.rules.empty() && same(defaultTheme.primary, primary) && same(defaultTheme.secondary, secondary) &&
        defaultTheme.dark == dark && defaultTheme.font == font)
        return &defaultTheme;
    defaultTheme.primary = primary;
    defaultTheme.secondary = secondary;
    defaultTheme.dark = dark;
    defaultTheme.font = font;
    Theme::build(defaultTheme);
    return &defaultTheme;
}

void lv_deinit() {
    display.reset();
    FontCache::instance().forget();
}

lv_obj_t* lv_screen_active() {
    if (!display) lv_linux_fbdev_create();
    return display->screen.get();
}

uint32_t lv_timer_handler() {
    if (!display) return LV_NO_TIMER_READY;
    lv_display_t& d = *display;
    Layout::run(d.screen.get(), d.width, d.height);
    Canvas canvas(d.pixels.data(), d.width, d.height);
    Renderer::render(d.screen.get(), canvas);
    d.framebuffer.write(d.pixels.data(), d.width, d.height, d.offsetX, d.offsetY);
    return LV_NO_TIMER_READY;
}
