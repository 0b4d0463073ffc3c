#pragma once
// The product's board support object: the board's bring-up and the platform state the product needs.
//
// Constructing it (main thread, start-up) makes it the board that Board calls, registers the "midi" and
// "ctrl" controller sources and runs, through the command runner, the GPIO command, the affinity loop that
// pins every thread existing at that moment to CPU 0 (the audio threads, created later, choose their own
// CPU) and the USB gadget script (a serial and an audio function). Neither the commands' nor the script's
// exit status is looked at: a device whose gadget is already bound still starts. On the host the runner
// records them and runs none.
//
// initialize (the "eventTasks" thread, once) finds the codec, sets the display up, shows the splash and
// starts the SPI input/output array; eventLoop (the same thread, every 10 ms) turns every input frame that
// arrived since the last call into event ids: presses and releases of the footswitches and encoder pushes
// (debounced 50 ms, long press at 1.5 s), encoder steps, two footswitch combinations and the idle event.
#include "ui/Bsp.h"
#include "ui/gfx/Gfx.h"

#include <memory>
#include <string>

class Ads1115;
class SourceCtrl;
class SourceMidi;

class LindquarBsp : public Bsp {
public:
    // The panel counts as idle after this long without a touch.
    static constexpr int kIdleSeconds = 30;
    // The expression-pedal converter: its I2C bus and 7-bit address.
    static constexpr const char* kPedalBus = "/dev/i2c-5";
    static constexpr int kPedalAddress = 0x48;
    // The panel's shift-register chain: its lines, frames per second, milliseconds of frames in flight and
    // PWM depth.
    static constexpr int kPanelLines = 24;
    static constexpr int kScanFrequency = 5000;
    static constexpr int kFramesInFlightMs = 100;
    static constexpr int kPwmDepth = 32;

    static constexpr const char* kGpioCommand = "gpioset 0 26=0";
    static constexpr const char* kAffinityCommand =
        "bash -c 'for pid in /proc/[0-9]*/; do for tid in /proc/$(basename $pid)/task/[0-9]*/; do taskset -p 1 "
        "$(basename $tid) > /dev/null 2>&1; done; done'";
    // The USB gadget set-up, written as it is to a root shell.
    static const std::string& gadgetScript();

    LindquarBsp();
    ~LindquarBsp() override;

    void initialize() override;
    void eventLoop() override;
    // The product splash on the active screen; the display module draws it in place of its own.
    static void splash();
    // The dark theme the product's own screens (splash, recovery page) are drawn in.
    static void applyTheme();
    // A one-line label on the active screen, cut with dots when it does not fit its box.
    static lv_obj_t* boardLabel(int x, int y, int width, int height, const lv_font_t* font, const char* text);

    // The pedal converter's millivolts as the "ctrl" source reads them: 3.3 V is full scale (4096), and
    // "not available" (-1) stays negative, so the source sends nothing.
    static int pedalReading(int millivolts);

    int idleSeconds = 0;
    // Read by the "ctrl" source on the "controlLoop" thread.
    std::unique_ptr<Ads1115> ads;

private:
    std::unique_ptr<SourceMidi> midi;
    std::unique_ptr<SourceCtrl> ctrl;
};
