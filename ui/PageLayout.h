#pragma once
// The one screen layout of every list page (node browser, slot list, chooser, setup): a black panel over
// the whole 320 x 170 screen, a title, a separator line, a window of five rows of 25 pixels, a scroll bar
// when there are more than five rows, and the value column of the pages that list nodes.
//
// The pages draw in immediate mode: the UI pass cleared the screen, and these calls build the objects on
// the active screen afresh. UI thread only.
#include "ui/gfx/Gfx.h"

#include <string>

class Node;

class PageLayout {
public:
    static constexpr int kRows = 5;
    static constexpr int32_t kRowHeight = 25;
    static constexpr int32_t kRowTop = 39;
    static constexpr int32_t kRowLeft = 7;
    static constexpr int32_t kFullRowWidth = 306;
    static constexpr int32_t kScrolledRowWidth = 292;
    // Name column of the pages that list nodes; the value column starts at kValueLeft.
    static constexpr int32_t kNameWidth = 240;
    static constexpr int32_t kValueLeft = 140;

    // The default theme: blue and red, dark, Montserrat 14.
    static void theme();
    // The black panel that covers the screen; the list pages use stops 50, the popup 0.
    static lv_obj_t* panel(int32_t gradientStop);
    // Theme, panel, separator line and title (steps 1 to 4 of the layout).
    static void frame(const std::string& title);
    // The scroll bar, only when count > kRows; true when it was drawn.
    static bool scrollBar(int count, int first);
    static bool hasScrollBar(int count) { return count > kRows; }
    static int32_t rowWidth(int count) { return hasScrollBar(count) ? kScrolledRowWidth : kFullRowWidth; }
    static int32_t rowTop(int row) { return kRowTop + kRowHeight * row; }

    // The highlight of a row: white on the selected row, transparent black on the others.
    static void highlight(int32_t y, int32_t width, bool selected);
    // The row's text: Montserrat 20 cut with dots, black on the selected row, white elsewhere.
    static lv_obj_t* rowText(int32_t y, int32_t width, bool selected, const std::string& text);
    // Row text colour: black on the selected (white) row, white elsewhere.
    static lv_color_t textColour(bool selected);
    // The value column of a listed node: the arrow of a folder, or the leaf's value text.
    static void valueColumn(const Node* child, int32_t y, int32_t width, bool selected);

    // Keeps the window of kRows rows over the selected row after a move; no wrap.
    static void moveDown(int& selected, int& first, int count);
    static void moveUp(int& selected, int& first);
};
