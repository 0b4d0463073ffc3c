#include "board/LindquarUpdater.h"

#include "ui/DrawerNode.h"
#include "ui/EventDispatcher.h"
#include "ui/EventId.h"
#include "ui/gfx/Gfx.h"
#include "board/LindquarBsp.h"
#include "board/ProductInfo.h"
#include "core/System.h"

LindquarUpdater::LindquarUpdater(Node*, Node*) : bsp(new LindquarBsp()) { ProductInfo::setInfoData(); }

// The board object lives for the whole run, like the page; nothing deletes either while the device runs.
LindquarUpdater::~LindquarUpdater() = default;

bool LindquarUpdater::draw() {
    LindquarBsp::applyTheme();
    lv_obj_t* title = LindquarBsp::boardLabel(0, 40, 320, 51, &lv_font_montserrat_40, "Update Mode");
    lv_obj_set_style_text_align(title, LV_TEXT_ALIGN_CENTER, 0);
    LindquarBsp::boardLabel(78, 129, 235, 29, &lv_font_montserrat_16, "press BROWSE for settings");
    return true;
}

bool LindquarUpdater::onEvent(int id) {
    // BROWSE opens the system settings; the press is this page's either way.
    if (id == EventId::Encoder1ShortRelease && EventDispatcher::hasFocus(this)) new DrawerNode(System::systemNode());
    return id == EventId::Encoder1ShortRelease;
}
