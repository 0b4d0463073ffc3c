#pragma once
// A modal message box with one to three buttons: "Ok"; "Back", "Ok"; or "Back", "Ok", "Save". The caller
// builds it with new, runs waitModal() and reads the index of the chosen button from its own int.
//
// Keys: the main encoder moves the highlight (no wrap); its press arms the popup and the release that
// follows confirms, so a release left over from the press that opened the popup confirms nothing. Every
// event stops here; nothing but a confirmation closes it (idle and encoder 2 do not).
//
// UI thread only.
#include "ui/Listener.h"

#include <string>

class DrawerPopup : public Listener {
public:
    static constexpr int kOk = 0;
    static constexpr int kBackOk = 1;
    static constexpr int kBackOkSave = 2;

    // With kind kBackOk and a non-zero answer on entry, "Ok" is preselected. A kind outside 0..2 is taken
    // as the nearest one.
    DrawerPopup(std::string title, std::string text, int kind, int* result);

    bool draw() override;
    bool onEvent(int id) override;

private:
    // The same box in the monochrome picture, which no display shows.
    void drawMonochrome() const;

    std::string title;
    std::string text;
    int selected = 0;
    int kind;
    int* result;
    bool armed = false;
};
