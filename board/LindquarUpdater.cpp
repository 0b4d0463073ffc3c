#include "LindquarUpdater.h"

#include "DrawerNode.h"
#include "EventDispatcher.h"
#include "EventId.h"
#include "Gfx.h"
#include "LindquarBsp.h"
#include "ProductInfo.h"
#include "System.h"

LindquarUpdater::LindquarUpdater(Node*, Node*) : bsp(new LindquarBsp()) { ProductInfo::setInfoData(); }

// The board object lives for the whole run, like the page; nothing deletes either while the device runs.
LindquarUpdater::~LindquarUpdater() = default;

bool LindquarUpdater::draw() {
    lv_display_t* display = lv_display_get_default();
    lv_theme_t* theme = lv_theme_default_init(display, lv_palette_main(LV_PALETTE_BLUE),
                                              lv_palette_main(LV_PALETTE_RED), true, &lv_font_montserrat_14);
    lv_display_set_theme(display, theme);

    lv_obj_t* screen = lv_screen_active();
    lv_obj_t* title = lv_label_create(screen);
    lv_obj_set_pos(title, 0, 40);
    lv_obj_set_size(title, 320, 51);
    lv_label_set_long_mode(title, LV_LABEL_LONG_MODE_DOTS);
    lv_obj_set_style_text_font(title, &lv_font_montserrat_40, 0);
    lv_obj_set_style_text_align(title, LV_TEXT_ALIGN_CENTER, 0);
    lv_label_set_text(title, "Update Mode");

    lv_obj_t* hint = lv_label_create(screen);
    lv_obj_set_pos(hint, 78, 129);
    lv_obj_set_size(hint, 235, 29);
    lv_label_set_long_mode(hint, LV_LABEL_LONG_MODE_DOTS);
    lv_obj_set_style_text_font(hint, &lv_font_montserrat_16, 0);
    lv_label_set_text(hint, "press BROWSE for settings");
    return true;
}

bool LindquarUpdater::onEvent(int id) {
    // BROWSE opens the system settings; the press is this page's either way.
    if (id == EventId::Encoder1ShortRelease && EventDispatcher::hasFocus(this)) new DrawerNode(System::systemNode());
    return id == EventId::Encoder1ShortRelease;
}
