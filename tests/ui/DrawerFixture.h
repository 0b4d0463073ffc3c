#pragma once
// The fixture of the page tests: the test's own empty home, a recording page below that draws the whole
// screen, and the short names the cases use for the driver, both pictures and the recording log.
#include "ui/EventDispatcher.h"
#include "tests/ui/GlcdPicture.h"
#include "tests/ui/ListPageDriver.h"
#include "tests/ui/Pages.h"

#include <gtest/gtest.h>

using driver::operator+;
using driver::expectBox;
using driver::keys;
using driver::redraw;
using driver::redrawGlcd;
using driver::send;
using gfx::GfxTestView;
using gfx::ObjectView;
using glcdpicture::pixel;
using pages::entriesOf;
using pages::log;
using pages::RecordingPage;

class DrawerPage : public testing::Test {
protected:
    void SetUp() override {
        pages::ownHome();
        below = new RecordingPage("below", {}, true);
        EventDispatcher::keepStartupPages();
    }
    RecordingPage* below = nullptr;
};
