#pragma once
// The node browser: lists the visible children of one folder of the parameter tree, edits leaf values in
// place with the main encoder, and opens the matching page for the other kinds of child (a sub-folder, a
// text, an action, a slot list, a curve). A "Back" row follows the children when another page lies below.
//
// Keys: the main encoder moves the selection (or steps the value being edited), its short press opens the
// row or ends the edit, its long press resets a number being edited (or, on the application folder, opens
// the setup page); the short press of encoder 2 closes the page. Idle closes the page and goes on to the
// pages below; footswitches and the other push buttons pass through.
//
// UI thread only. The page keeps no graphics objects: every redraw rebuilds them from the tree.
#include "ui/Listener.h"

#include <string>

class Node;
class NodeItem;

class DrawerNode : public Listener {
public:
    explicit DrawerNode(Node* node);
    // Opens the browser on a folder: the setup page's folder opener.
    static void open(Node* folder);

    // Points the page at another folder, back at its first row, not editing.
    void setNode(Node* node);
    // Visible children, plus the "Back" row when two or more pages are on the stack.
    int itemCount() const;

    bool draw() override;
    bool onEvent(int id) override;

private:
    int childCount() const;
    bool hasBackRow() const;
    void clampWindow(int count);
    void drawRow(int row, int index, int count);
    void drawEditedValue(const Node* child, int32_t y, bool selected, bool scrolled) const;
    void drawHueSlider(const NodeItem* child, int32_t y, bool edited, bool scrolled) const;
    bool onBrowseEvent(int id);
    bool onEditEvent(int id);
    void openSelected();
    void openLeaf(Node* child);
    void editText(NodeItem* child);
    void confirmAndRun(Node* action);

    Node* node;
    int selected = 0;
    int first = 0;
    Node* editing = nullptr;
};
