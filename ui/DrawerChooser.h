#pragma once
// A modal list of texts with a "Back" row. The caller builds it with new, runs waitModal() and reads the
// chosen text from its own string: the option, or the empty text for "Back" and for encoder 2.
//
// Keys: the main encoder moves (no wrap), its short press chooses; the short press of encoder 2 closes
// with the empty text. Every event stops here; idle does not close it. UI thread only.
#include "ui/Listener.h"

#include <string>
#include <vector>

class DrawerChooser : public Listener {
public:
    // The caller's string is written only when the chooser closes.
    DrawerChooser(std::string title, std::vector<std::string> options, std::string* result);

    bool draw() override;
    bool onEvent(int id) override;

private:
    void close(const std::string& answer);

    int selected = 0;
    int first = 0;
    int count;
    std::string* result;
    std::string title;
    std::vector<std::string> options;
};
