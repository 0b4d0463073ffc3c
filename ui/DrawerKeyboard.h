#pragma once
// The modal on-screen keyboard: the user types a short text with the main encoder alone. Turning moves the
// highlight over the keys, a short press presses the highlighted key. The page edits a private copy of the
// text and hands it to the caller's string only on OK; close and the back button leave the caller's string
// as it is.
//
// The caller builds it with new (it goes on top of the page stack), runs waitModal() and then reads its
// string, which must outlive the page. No event reaches the pages below while the keyboard is open.
#include "ui/Listener.h"

#include <string>

class DrawerKeyboard : public Listener {
public:
    // The editing starts from the caller's string.
    DrawerKeyboard(std::string title, std::string* result);
    // The same, and then the caller's string is set to initial (when not null): it holds initial until OK,
    // so a cancelled edit leaves initial there while the editing still starts from the old contents.
    DrawerKeyboard(std::string title, std::string* result, const char* initial);

    bool draw() override;
    bool onEvent(int id) override;

    // keyboardMode values.
    static constexpr int kLower = 0;
    static constexpr int kUpper = 1;
    static constexpr int kDigitsFromLower = 2;
    static constexpr int kDigitsFromUpper = 3;

private:
    bool digitMap() const { return keyboardMode >= kDigitsFromLower; }
    int lastKey() const;
    void pressKey();
    // Queues the close once: keys queued behind OK are still handled, and a second OK or close among them
    // must not close the caller's page as well.
    void close();

    std::string* result;
    std::string text;
    std::string title;
    int selectedKey = 0;
    int keyboardMode = kLower;
    bool closing = false;
};
