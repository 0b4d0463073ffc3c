// The chain screen over a product-shaped tree, opened from the home screen: tiles, cursor and strip,
// the preset view, block switching, fast-node edits, assigns and closing.
#include "ui/Chain.h"
#include "tests/ui/HomeScreen.h"

using gfx::GfxTestView;
using gfx::ObjectView;
using homescreen::labelOf;
using homescreen::ProductTree;
using homescreen::redraw;
using homescreen::savePng;
using homescreen::send;
namespace ev = EventId;

namespace {
void openChain() {
    send("v^");
    ASSERT_EQ(EventDispatcher::elements(), 4);
}

const ObjectView* strip(const std::vector<ObjectView>& views) {
    for (const ObjectView* v : GfxTestView::ofKind(views, "obj")) {
        if (v->x == 7 && v->y == 35 && v->width == 306) return v;
    }
    ADD_FAILURE() << GfxTestView::describe(views);
    return nullptr;
}

// The tile (button) that holds the label with that text.
const ObjectView* tileOf(const std::vector<ObjectView>& views, const std::string& name) {
    const ObjectView& label = labelOf(views, name);
    if (label.parent < 0) return nullptr;
    return &views[size_t(label.parent)];
}
}

TEST(Chain, PresetViewAndTiles) {
    ProductTree tree;
    tree.assigns[2]->setValue(tree.amp->getPath());
    openChain();
    auto views = redraw();
    savePng("ui_chain_preset");

    // Title white with no tile selected; the preset view's sliders.
    EXPECT_EQ(labelOf(views, "Ambient").main.textColor, 0xFFFFFFu);
    EXPECT_EQ(labelOf(views, "Ambient").width, 304);
    EXPECT_EQ(labelOf(views, "Preset").x, 7);
    EXPECT_EQ(labelOf(views, "02B").x, 6);
    EXPECT_EQ(labelOf(views, "List").x, 85);
    EXPECT_EQ(labelOf(views, "Edit...").x, 84);
    EXPECT_EQ(labelOf(views, "Level").x, 163);
    EXPECT_EQ(labelOf(views, "Volume").x, 241);

    // Tiles in the app node's order, the master folder (no switch) left out; a block that is off at one
    // eighth of its colour; the assign number in the corner.
    const char* names[] = {"Gate", "Comp", "Amp", "Delay", "Rev"};
    const int colours[] = {0x888844, (0xFFFF00 >> 3) & 0x1F1F1F, 0xFF0000, 0x00FF00, 0xFF00FF};
    for (int i = 0; i < 5; ++i) {
        const ObjectView* tile = tileOf(views, names[i]);
        ASSERT_NE(tile, nullptr) << names[i];
        EXPECT_EQ(tile->kind, "button");
        EXPECT_EQ(tile->main.bgColor, uint32_t(colours[i])) << names[i];
        EXPECT_EQ(tile->main.shadowSpread, 0) << names[i];
    }
    EXPECT_EQ(GfxTestView::labelWithText(views, "Master"), nullptr);
    EXPECT_EQ(labelOf(views, "3").parent, labelOf(views, "Amp").parent);
    EXPECT_EQ(labelOf(views, "Comp").main.textColor, 0x777777u) << "a dark tile has grey text";
    EXPECT_EQ(strip(views)->scrollRequest, -50);

    // Cursor on the fourth tile: the strip scrolls by 150, the title greys, the sliders are the block's.
    send("4>");
    views = redraw();
    savePng("ui_chain_block");
    EXPECT_EQ(strip(views)->scrollRequest, 150);
    EXPECT_EQ(labelOf(views, "Ambient").main.textColor, 0x777777u);
    EXPECT_EQ(tileOf(views, "Delay")->main.shadowSpread, 3);
    EXPECT_EQ(labelOf(views, "Time").x, 7);
    EXPECT_EQ(labelOf(views, "Feedback").x, 85);
    EXPECT_EQ(labelOf(views, "DIGITAL").x, 162);
    EXPECT_EQ(labelOf(views, "Mix").x, 241);

    // The cursor stops at the last tile and at the preset.
    send("5>");
    EXPECT_EQ(tileOf(redraw(), "Rev")->main.shadowSpread, 3);
    send("7<");
    EXPECT_EQ(labelOf(redraw(), "Ambient").main.textColor, 0xFFFFFFu);

    // An edited preset narrows the title and shows the mark.
    ProductTree::tick();
    tree.low->edit(true);
    views = redraw();
    EXPECT_EQ(labelOf(views, "Ambient").width, 276);
    EXPECT_EQ(labelOf(views, LV_SYMBOL_WARNING).x, 290);
}

TEST(Chain, EncodersEditSwitchAndAssignBlocks) {
    ProductTree tree;
    openChain();
    // No tile: encoder 2 steps the preset, 4 the level, 5 the volume; the long presses assign nothing.
    send(ev::Encoder2Forward);
    EXPECT_EQ(tree.preset->getValue(), "Funk");
    send(ev::Encoder4Forward);
    EXPECT_NEAR(tree.level->getValue(), 0.8f, 1e-4f);
    send(ev::Encoder5Back);
    EXPECT_FLOAT_EQ(tree.volume->getValue(), 48.0f);
    send(ev::Encoder2LongPress);
    for (NodeItem* assign : tree.assigns) EXPECT_EQ(assign->getValue(), "");

    // The amp tile (third): encoders 2 to 5 edit gain, low, mid, treble; the long press switches it off.
    send("3>");
    struct Case {
        int id;
        NodeFloat* node;
        float value;
    } cases[] = {{ev::Encoder2Forward, tree.gain, 5.2f},
                 {ev::Encoder3Back, tree.low, 4.8f},
                 {ev::Encoder4Forward, tree.mid, 5.2f},
                 {ev::Encoder5Forward, tree.treble, 5.2f}};
    for (const Case& c : cases) {
        send(c.id);
        EXPECT_FLOAT_EQ(c.node->getValue(), c.value) << c.node->getName();
    }
    send("L");
    EXPECT_FALSE(Chain::isEnabled(tree.amp));
    auto views = redraw();
    EXPECT_EQ(tileOf(views, "Amp")->main.bgColor, uint32_t((0xFF0000 >> 3) & 0x1F1F1F));
    EXPECT_EQ(labelOf(views, "Gain").parent, 0) << "sliders sit on the screen";

    // Assign it to 1, then to 2: it moves, and the tile shows the new number.
    send(ev::Encoder2LongPress);
    EXPECT_EQ(tree.assigns[0]->getValue(), tree.amp->getPath());
    send(ev::Encoder3LongPress);
    EXPECT_EQ(tree.assigns[0]->getValue(), "");
    EXPECT_EQ(tree.assigns[1]->getValue(), tree.amp->getPath());
    views = redraw();
    EXPECT_EQ(labelOf(views, "2").parent, labelOf(views, "Amp").parent);
    EXPECT_EQ(GfxTestView::labelWithText(views, "1"), nullptr);

    // Encoder 3's short press opens nothing with a tile selected; encoder 1's opens the block's page.
    send(ev::Encoder3ShortRelease);
    EXPECT_EQ(EventDispatcher::elements(), 4);
    send("^");
    EXPECT_EQ(EventDispatcher::elements(), 5);
    EXPECT_NE(GfxTestView::labelWithText(redraw(), "Enable"), nullptr);
    send("xr");
    EXPECT_EQ(EventDispatcher::elements(), 4);

    // Back on the preset: encoder 3 opens the preset list, encoder 1 the master folder.
    send("3<");
    send(ev::Encoder3ShortRelease);
    EXPECT_EQ(EventDispatcher::elements(), 5);
    views = redraw();
    EXPECT_EQ(GfxTestView::labelWithText(views, "List"), nullptr) << "the list page covers the chain screen";
    EXPECT_NE(GfxTestView::labelWithText(views, "Preset"), nullptr) << GfxTestView::describe(views);
    send("xr^");
    EXPECT_NE(GfxTestView::labelWithText(redraw(), "Master"), nullptr);
    send("xr");
    EXPECT_EQ(EventDispatcher::elements(), 4);
}

// Opening a page with encoder 1 on the chain screen, or on the setup page opened from it, and coming back
// leaves the main encoder on the home screen turning the volume, not stepping presets.
TEST(Chain, EncoderPressesOnItsPagesLeaveTheHomeEncoderOnTheVolume) {
    ProductTree tree;
    // Each ends back on the chain screen: the block page closed with encoder 2, the setup page with its
    // "Back" row.
    const std::vector<int> throughBlockPage = {ev::Encoder1Press, ev::Encoder1ShortRelease, ev::Encoder2ShortRelease};
    const std::vector<int> throughSetup = {ev::Encoder1Press, ev::Encoder1LongPress, ev::Encoder1LongRelease,
                                           ev::Encoder1Press, ev::Encoder1ShortRelease};
    for (const auto& path : {throughBlockPage, throughSetup}) {
        openChain();
        for (int id : path) {
            send(id);
            send("r");
        }
        ASSERT_EQ(EventDispatcher::elements(), 4) << "back on the chain screen";
        send("xr");
        ASSERT_EQ(EventDispatcher::elements(), 3) << "back on the home screen";
        const float volume = tree.volume->getValue();
        send(">");
        EXPECT_EQ(tree.preset->getValue(), "Ambient");
        EXPECT_GT(tree.volume->getValue(), volume);
    }
    openChain();
    send("ir");
    EXPECT_EQ(EventDispatcher::elements(), 3) << "idle closes the chain screen";
}
