// The level bar page: steps in tenths within 0..1, closing on a short press, and its drawing.
#include "ui/DrawerFastNodes.h"
#include "tests/ui/DrawerFixture.h"
#include "ui/EventId.h"

#include <string>
#include <vector>

namespace {
using DrawerFastNodesTest = DrawerPage;

// The last filled column of the bar on its middle row.
int barEnd() {
    redrawGlcd();
    int end = -1;
    for (int x = 10; x <= 117; ++x) {
        if (pixel(x, 36)) end = x;
    }
    return end;
}
}

TEST_F(DrawerFastNodesTest, StepsTheLevelWithinTheBar) {
    new DrawerFastNodes;
    EXPECT_EQ(barEnd(), 10 + 53);
    glcdpicture::savePng("ui_fast_nodes");
    // The frame: rounded ends one column out, the title above.
    EXPECT_TRUE(pixel(9, 36));
    EXPECT_TRUE(pixel(118, 36));
    EXPECT_FALSE(pixel(9, 28));
    EXPECT_TRUE(pixel(60, 28));
    EXPECT_EQ(glcdpicture::region(0, 13, 127, 27),
              glcdpicture::reference(0, 13, 127, 27, [] { glcd_drawStringFont(10, 16, "Title", glcd_font14, 1); }));

    send({EventId::Encoder1Forward});
    EXPECT_EQ(barEnd(), 10 + 64);
    send(std::vector<int>(20, EventId::Encoder1Forward));
    EXPECT_EQ(barEnd(), 117) << "the bar fills up to the frame";
    send({EventId::Encoder1Back});
    EXPECT_EQ(barEnd(), 10 + 96);
    send(std::vector<int>(30, EventId::Encoder1Back));
    EXPECT_EQ(barEnd(), 10) << "only the first column at 0";

    pages::log().clear();
    send({EventId::Idle, EventId::Tick, EventId::FootswitchAPress, EventId::Encoder2ShortRelease});
    EXPECT_TRUE(pages::entriesOf("below").empty());
    EXPECT_EQ(EventDispatcher::elements(), 2);
    send({EventId::Encoder1ShortRelease});
    EXPECT_EQ(EventDispatcher::elements(), 1);
}
