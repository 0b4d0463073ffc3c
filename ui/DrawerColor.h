#pragma once
// An RGB colour editor in the monochrome picture: three sliders (red, green, blue) and the buttons "Back"
// and "Save". The main encoder moves the highlight; a short press on a slider starts or ends editing it,
// and while editing, turning changes that component by one. The caller's string (six hexadecimal digits)
// follows every change; "Save" keeps it, "Back" restores the text the page was opened with.
#include "ui/Listener.h"

#include <cstdint>
#include <string>

class DrawerColor : public Listener {
public:
    // A text that is not exactly six characters opens the page at black.
    DrawerColor(std::string title, std::string* result);

    bool draw() override;
    // Consumes every id.
    bool onEvent(int id) override;

    // Writes the colour into the caller's string as six upper-case hexadecimal digits.
    void updateColor();

    static constexpr int kRed = 0;
    static constexpr int kGreen = 1;
    static constexpr int kBlue = 2;
    static constexpr int kBack = 3;
    static constexpr int kSave = 4;

private:
    int component(int index) const;
    void setComponent(int index, int value);
    void drawSlider(int index) const;
    void drawButtons() const;

    std::string* result;
    std::string initialText;
    std::string title;
    uint32_t color = 0;
    int cursor = kRed;
    // Cycles -1, 0, 1 with the tick: the knob being edited shows filled one tick in three.
    int blink = 0;
    bool editing = false;
};
