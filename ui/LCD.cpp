#include "ui/LCD.h"

#include "ui/gfx/Gfx.h"

void (*LCD::custom_splash)() = nullptr;
std::atomic<bool> LCD::initialized{false};

namespace {
// The default splash's text styles; its labels refer to them until the UI thread's first clear.
lv_style_t largeText;
lv_style_t smallText;
}

void LCD::initialize() {
    lv_init();
    lv_display_t* display = lv_linux_fbdev_create();
    lv_linux_fbdev_set_file(display, "/dev/fb0");
    lv_display_set_offset(display, kOffsetX, kOffsetY);
    lv_display_set_resolution(display, kWidth, kHeight);
    initialized.store(true, std::memory_order_release);
}

void LCD::deinitialize() {
    initialized.store(false, std::memory_order_release);
    custom_splash = nullptr;
    lv_deinit();
}

bool LCD::isInitialized() { return initialized.load(std::memory_order_acquire); }

void LCD::set_custom_splash(void (*splash)()) { custom_splash = splash; }

void LCD::splash() {
    if (custom_splash) {
        custom_splash();
    } else {
        defaultSplash();
    }
    lv_timer_handler();
}

void LCD::defaultSplash() {
    lv_obj_t* screen = lv_screen_active();
    lv_obj_t* panel = lv_obj_create(screen);
    lv_obj_set_pos(panel, 0, 0);
    lv_obj_set_size(panel, kWidth, kHeight);
    lv_obj_set_style_pad_all(panel, 0, 0);
    lv_obj_set_style_radius(panel, 0, 0);
    lv_obj_set_style_bg_color(panel, lv_color_black(), 0);
    lv_obj_set_style_bg_opa(panel, LV_OPA_COVER, 0);
    lv_obj_set_style_bg_grad_dir(panel, LV_GRAD_DIR_VER, 0);
    lv_obj_set_style_bg_main_stop(panel, 0, 0);
    lv_obj_set_style_bg_grad_stop(panel, 0, 0);
    lv_obj_set_style_border_color(panel, lv_color_black(), 0);
    lv_obj_set_style_border_width(panel, 7, 0);

    lv_style_init(&largeText);
    lv_style_set_text_font(&largeText, &lv_font_montserrat_48);
    lv_style_set_text_align(&largeText, LV_TEXT_ALIGN_CENTER);
    lv_obj_t* name = lv_label_create(screen);
    lv_obj_add_style(name, &largeText, 0);
    lv_label_set_text(name, "ZEMBO");
    lv_obj_center(name);
    lv_obj_set_style_text_color(name, lv_color_white(), 0);

    lv_style_init(&smallText);
    lv_style_set_text_font(&smallText, &lv_font_montserrat_14);
    lv_style_set_text_align(&smallText, LV_TEXT_ALIGN_CENTER);
    lv_obj_t* platform = lv_label_create(screen);
    lv_obj_add_style(platform, &smallText, 0);
    lv_label_set_text(platform, "platform");
    lv_obj_align(platform, LV_ALIGN_CENTER, 48, 30);
    lv_obj_set_style_text_color(platform, lv_color_white(), 0);
}

void LCD::flush() {
    if (isInitialized()) lv_timer_handler();
}

void LCD::clear() {
    if (isInitialized()) lv_obj_clean(lv_screen_active());
}
