#pragma once
// The slot list page: the slots of a slot list shown through the parameter that selects one of them (the
// presets through the preset node, impulse responses and models through their selectors). Choosing a
// filled slot selects it (a preset loads) and closes the page. For the preset node the page also saves the
// present settings into an empty slot under a typed name, and a long press on a filled slot offers
// "Rename", "Delete" and "Overwrite".
//
// Slots are labelled by their place in banks of three: 01A, 01B, 01C, 02A, ...
//
// Keys: the main encoder moves (wrapping at both ends), its short press chooses, its long press opens the
// slot menu; the short press of encoder 2 closes. Every event but idle stops here; idle closes the page
// and goes on to the pages below. UI thread only; the names are read afresh on every redraw.
#include "ui/Listener.h"

#include <string>

class NodeList;
class NodeParList;

class DrawerList : public Listener {
public:
    explicit DrawerList(NodeParList* node);

    // The same set-up for another selector, without touching the page stack.
    void setNode(NodeParList* node);

    bool draw() override;
    bool onEvent(int id) override;

    // "%02d%c": bank i / 3 + 1 and the letter A, B or C for i mod 3.
    static std::string slotLabel(int index);
    // The label, a space and the slot's name, or twenty hyphens for an empty slot.
    static std::string rowText(int index, const std::string& name);

private:
    int slotCount() const;
    void moveDown();
    void moveUp();
    void choose();
    void saveInto(int slot);
    void slotMenu();
    void rename(int slot, const std::string& name);

    NodeParList* node = nullptr;
    NodeList* list = nullptr;
    int selected = 0;
    int ticks = 0;
    int first = 0;
    int count = 0;
};
