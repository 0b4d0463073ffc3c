#pragma once
// The display module: brings the graphics layer up on the Linux framebuffer ("/dev/fb0", a 320 x 170
// picture at x 0, y 35), shows the start-up splash, renders the active screen and clears it. No page logic.
//
// Threads: initialize, set_custom_splash and splash run once in the board bring-up on the input thread,
// before the UI thread's first graphics call; flush and clear then run on the UI thread only. flush and
// clear do nothing until initialize has run, so a UI pass that comes early cannot race the set-up.
#include <atomic>

class LCD {
public:
    static constexpr int kWidth = 320;
    static constexpr int kHeight = 170;
    static constexpr int kOffsetX = 0;
    static constexpr int kOffsetY = 35;

    static void initialize();
    static bool isInitialized();
    // The display and the custom splash gone again, as before initialize.
    static void deinitialize();
    // The product's own splash, drawn by splash() in place of the default one; null: the default.
    static void set_custom_splash(void (*splash)());
    // Draws the splash on the active screen and renders it at once.
    static void splash();
    // Renders what changed on the active screen to the framebuffer.
    static void flush();
    // Deletes every object of the active screen.
    static void clear();

private:
    static void defaultSplash();
    static void (*custom_splash)();
    static std::atomic<bool> initialized;
};
