#include "board/LindquarBsp.h"

#include "nolt/driver/Ads1115.h"
#include "audio/AudioProcessor.h"
#include "audio/Codec.h"
#include "porting/CommandRunner.h"
#include "ui/EventDispatcher.h"
#include "ui/EventId.h"
#include "ui/gfx/Gfx.h"
#include "nolt/driver/IOArray.h"
#include "ui/LCD.h"
#include "nolt/driver/Light.h"
#include "porting/Shims.h"
#include "core/SourceCtrl.h"
#include "core/SourceMidi.h"

#include <cstdint>

namespace {
// The script's own lines, as the shell reads them: after a leading newline every line is indented with
// eight blanks, except the packet-size line, which carries its own two tabs; empty lines stay empty, and the
// text ends with one more indentation. Only a
// failed `cd $G` stops it, so no configuration file is ever written into the root shell's own folder.
const char* const kScriptLines[] = {
    "#!/bin/bash",
    "# Load required modules",
    "modprobe libcomposite",
    "modprobe usb_f_acm",
    "modprobe usb_f_uac2",
    "",
    "# Wait for ConfigFS",
    "[ -d /sys/kernel/config ] || mount -t configfs none /sys/kernel/config",
    "",
    "G=/sys/kernel/config/usb_gadget/pi_gadget",
    "mkdir -p $G",
    "cd $G || exit 1",
    "",
    "echo 0x1d6b > idVendor",
    "echo 0x0104 > idProduct",
    "echo 0x0100 > bcdDevice",
    "echo 0x0200 > bcdUSB",
    "echo 0xEF > bDeviceClass",
    "echo 0x02 > bDeviceSubClass",
    "echo 0x01 > bDeviceProtocol",
    "\t\techo 0x40 > bMaxPacketSize0",
    "",
    "mkdir -p strings/0x409",
    "echo \"00000000\" > strings/0x409/serialnumber",
    "echo \"TERAVIN\" > strings/0x409/manufacturer",
    "echo \"Corvinhallow PRO\" > strings/0x409/product",
    "",
    "mkdir -p configs/c.1/strings/0x409",
    "echo \"Config 1: Serial + Audio\" > configs/c.1/strings/0x409/configuration",
    "echo 250 > configs/c.1/MaxPower",
    "",
    "mkdir -p functions/acm.usb0",
    "mkdir -p functions/uac2.usb0",
    "echo \"Teravin Lindquar\" > functions/uac2.usb0/function_name",
    "echo 48000 > functions/uac2.usb0/c_srate",
    "echo 48000 > functions/uac2.usb0/p_srate",
    "echo 3 > functions/uac2.usb0/c_chmask",
    "echo 3 > functions/uac2.usb0/p_chmask",
    "echo 4 > functions/uac2.usb0/c_ssize",
    "echo 4 > functions/uac2.usb0/p_ssize",
    "echo 8 > functions/uac2.usb0/req_number",
    "",
    "ln -s functions/acm.usb0 configs/c.1/",
    "ln -s functions/uac2.usb0 configs/c.1/",
    "",
    "ls /sys/class/udc > UDC",
};
const char* const kIndent = "        ";

std::string buildScript() {
    std::string script = "\n";
    for (const char* line : kScriptLines) {
        if (*line == '\t') {
            script += line; // carries its own indentation
        } else if (*line) {
            script += kIndent;
            script += line;
        }
        script += "\n";
    }
    script += kIndent;
    return script;
}

// A new board object scans its panel from rest.
void restPanel();
}

const std::string& LindquarBsp::gadgetScript() {
    static const std::string script = buildScript();
    return script;
}

LindquarBsp::LindquarBsp() : idleSeconds(kIdleSeconds) {
    restPanel();
    ads = std::make_unique<Ads1115>(kPedalBus, kPedalAddress);
    midi = std::make_unique<SourceMidi>("midi", "MIDI", "/dev/ttyS0", 0, 0);
    // A converter that is missing or fails reads -1, so the source sends nothing and a linked volume is
    // never driven to silence.
    ctrl = std::make_unique<SourceCtrl>("ctrl", "Ctrl", 0, [this](int) { return pedalReading(ads->read_value_mv()); });

    std::shared_ptr<CommandRunner> runner = CommandRunner::current();
    runner->run(kGpioCommand);
    runner->run(kAffinityCommand);
    runner->runScript(gadgetScript());
}

LindquarBsp::~LindquarBsp() = default;

int LindquarBsp::pedalReading(int millivolts) { return int(float(millivolts) * 1.24121f); }

void LindquarBsp::initialize() {
    Codec::initialize();
    LCD::initialize();
    LCD::set_custom_splash(LindquarBsp::splash);
    LCD::splash();
    IOArray::initialize(kPanelLines, kScanFrequency, kFramesInFlightMs, kPwmDepth, -2, -2, -2, -2);
    Light::setClipProbe(AudioProcessor::saturation);
}

namespace {
// The panel's contacts on the input frames, and the first event id of each group (press, short release,
// long press, long release follow it).
struct ButtonInput {
    int bit;
    int pressId;
};
constexpr ButtonInput kFootswitchA{23, EventId::FootswitchAPress};
constexpr ButtonInput kFootswitchB{16, EventId::FootswitchBPress};
constexpr ButtonInput kFootswitchC{0, EventId::FootswitchCPress};
constexpr ButtonInput kEncoderPushes[5] = {{22, EventId::Encoder1Press},
                                           {19, EventId::Encoder2Press},
                                           {12, EventId::Encoder3Press},
                                           {10, EventId::Encoder4Press},
                                           {5, EventId::Encoder5Press}};

struct EncoderInput {
    int bitA;
    int bitB;
    int forwardId;
    int backId;
};
constexpr EncoderInput kEncoders[5] = {{21, 20, EventId::Encoder1Forward, EventId::Encoder1Back},
                                       {17, 18, EventId::Encoder2Forward, EventId::Encoder2Back},
                                       {13, 14, EventId::Encoder3Forward, EventId::Encoder3Back},
                                       {11, 4, EventId::Encoder4Forward, EventId::Encoder4Back},
                                       {3, 6, EventId::Encoder5Forward, EventId::Encoder5Back}};

// The lines whose parity tells whether the panel was touched: the five pushes and the ten encoder lines
// (the footswitches are left out).
constexpr int kIdleBits[15] = {5, 10, 12, 19, 22, 21, 20, 17, 18, 13, 14, 11, 4, 3, 6};

constexpr int64_t kDebounceMicros = 50000;
constexpr int64_t kLongPressMicros = 1500000;
// The press timer lags at most this far behind, so the time since a press never grows without bound.
constexpr int64_t kTimerLagMicros = 3000000;
// An encoder left this long between detents loses its partial count.
constexpr int64_t kEncoderPauseMicros = 2000000;

// Quarter steps for a change of the reading 2 * A + B (row: old reading, column: new).
constexpr int kEncoderSteps[4][4] = {{0, -1, +1, 0}, {+1, 0, 0, -1}, {-1, 0, 0, +1}, {0, +1, -1, 0}};

// Every input's state starts on the first frame scanned: the level seen then is the rest level.
struct ButtonState {
    bool started = false;
    int initial_status = 0;
    int prev_status = 0;
    int status = 0;
    int64_t debounce = 0;
    int64_t timer = 0;
    int longPress_enabled = 0;
};

struct CombinationState {
    bool started = false;
    int restX = 0;
    int restY = 0;
    // Last time either footswitch was away from rest: the flag drops 50 ms after both are back.
    int64_t awayTime = 0;
    int pressed = 0;
    // The flag, debounced like a button.
    ButtonState level;
};

struct EncoderState {
    bool started = false;
    int old_ab_value = 0;
    int raw_enc_value = 0;
    int64_t pause_timer = 0;
};

struct IdleState {
    bool started = false;
    int old_val = 0;
    int timer = 0;
};

struct PanelState {
    CombinationState combinationAB;
    CombinationState combinationBC;
    ButtonState footswitchA;
    ButtonState footswitchB;
    ButtonState footswitchC;
    ButtonState pushes[5];
    EncoderState encoders[5];
    IdleState idle;
};

// One panel, scanned only on the input thread.
PanelState panel;

void restPanel() { panel = {}; }

// What one frame changed of a debounced level.
struct LevelChange {
    bool pressed = false;
    bool released = false;
    int64_t heldMicros = 0; // with released: how long the level was away from rest
    bool longPress = false;
};

// The button steps shared by the buttons and the combination flags: debounce, then decide.
LevelChange followLevel(ButtonState& state, int level, int64_t now) {
    LevelChange change;
    if (level == state.status) {
        state.debounce = now;
    } else if (now - state.debounce > kDebounceMicros) {
        state.status = level;
    }
    if (now - state.timer > kTimerLagMicros) state.timer = now - kTimerLagMicros;

    if (state.status == state.initial_status) {
        if (state.status != state.prev_status) {
            change.released = true;
            change.heldMicros = now - state.timer;
            state.prev_status = state.status;
        }
        state.timer = now;
        state.longPress_enabled = 1;
        return change;
    }
    // A press is decided before the long press, so frames that arrive after a stall of the input thread
    // report the press first and start its timer, rather than a long press before it.
    if (state.status != state.prev_status) {
        change.pressed = true;
        state.prev_status = state.status;
        state.timer = now;
    }
    if (now - state.timer > kLongPressMicros && state.longPress_enabled == 1) {
        change.longPress = true;
        state.longPress_enabled = 0;
    }
    return change;
}

void startLevel(ButtonState& state, int level, int64_t now) {
    if (state.started) return;
    state.started = true;
    state.initial_status = state.prev_status = state.status = level;
    state.debounce = state.timer = now;
}

void scanButton(ButtonState& state, const ButtonInput& input, bool absorbed) {
    const int level = IOArray::get_bit(input.bit);
    const int64_t now = esp_timer_get_time();
    startLevel(state, level, now);
    if (absorbed) {
        // Part of a combination: follows the contact silently and may report a long press only after it
        // has been back at rest.
        state.prev_status = state.status = level;
        state.debounce = now;
        state.longPress_enabled = 0;
        return;
    }
    const LevelChange change = followLevel(state, level, now);
    if (change.released) {
        EventDispatcher::addEvent(
            input.pressId + (change.heldMicros < kLongPressMicros ? EventId::ShortRelease : EventId::LongRelease));
    }
    if (change.pressed) EventDispatcher::addEvent(input.pressId + EventId::Press);
    if (change.longPress) EventDispatcher::addEvent(input.pressId + EventId::LongPress);
}

// Two footswitches held together: the flag rises as soon as both are away from rest and drops 50 ms after
// both are back; the combination's id is queued when the debounced flag falls within 1.5 s of rising.
void scanCombination(CombinationState& combination, int bitX, int bitY, int id) {
    const int x = IOArray::get_bit(bitX);
    const int y = IOArray::get_bit(bitY);
    const int64_t now = esp_timer_get_time();
    if (!combination.started) {
        combination.started = true;
        combination.restX = x;
        combination.restY = y;
    }
    const bool xAway = x != combination.restX;
    const bool yAway = y != combination.restY;
    if (xAway || yAway) combination.awayTime = now;
    if (xAway && yAway) {
        combination.pressed = 1;
    } else if (!xAway && !yAway && now - combination.awayTime > kDebounceMicros) {
        combination.pressed = 0;
    }
    startLevel(combination.level, combination.pressed, now);
    const LevelChange change = followLevel(combination.level, combination.pressed, now);
    if (change.released && change.heldMicros < kLongPressMicros) EventDispatcher::addEvent(id);
}

void scanEncoder(EncoderState& state, const EncoderInput& input) {
    const int ab = 2 * IOArray::get_bit(input.bitA) + IOArray::get_bit(input.bitB);
    const int64_t now = esp_timer_get_time();
    if (!state.started) {
        state.started = true;
        state.old_ab_value = ab;
        state.pause_timer = now;
    }
    int step = 0;
    if (ab == state.old_ab_value) {
        if (now - state.pause_timer > kEncoderPauseMicros) state.pause_timer = now - kEncoderPauseMicros;
    } else {
        state.pause_timer = now;
        if ((ab ^ state.old_ab_value) == 3) {
            // Both lines changed between two frames: the direction is unknown, so the partial step goes.
            state.old_ab_value = ab;
            state.raw_enc_value = 0;
            return;
        }
        step = kEncoderSteps[state.old_ab_value][ab];
        state.old_ab_value = ab;
    }
    if (now - state.pause_timer < kEncoderPauseMicros) {
        // Four quarter steps make a detent; its event comes on the third.
        state.raw_enc_value += step;
        if (state.raw_enc_value > 2) {
            state.raw_enc_value -= 4;
            EventDispatcher::addEvent(input.forwardId);
        } else if (state.raw_enc_value < -2) {
            state.raw_enc_value += 4;
            EventDispatcher::addEvent(input.backId);
        }
    } else {
        state.raw_enc_value = 0;
    }
}

void scanIdle(IdleState& state, int idleSeconds) {
    int parity = 0;
    for (int bit : kIdleBits) parity ^= IOArray::get_bit(bit);
    if (!state.started) {
        state.started = true;
        state.old_val = parity;
    }
    if (parity != state.old_val) {
        state.timer = 0;
        return;
    }
    if (++state.timer > IOArray::ms_to_tick(idleSeconds * 1000)) {
        EventDispatcher::addEvent(EventId::Idle);
        state.timer = 0;
    }
}

void scanFrame(PanelState& panel, int idleSeconds) {
    scanCombination(panel.combinationAB, kFootswitchA.bit, kFootswitchB.bit, EventId::FootswitchesAB);
    scanCombination(panel.combinationBC, kFootswitchB.bit, kFootswitchC.bit, EventId::FootswitchesBC);
    const bool abHeld = panel.combinationAB.pressed != 0;
    const bool bcHeld = panel.combinationBC.pressed != 0;
    scanButton(panel.footswitchA, kFootswitchA, abHeld);
    scanButton(panel.footswitchB, kFootswitchB, abHeld || bcHeld);
    scanButton(panel.footswitchC, kFootswitchC, bcHeld);
    for (int i = 0; i < 5; ++i) scanButton(panel.pushes[i], kEncoderPushes[i], false);
    for (int i = 0; i < 5; ++i) scanEncoder(panel.encoders[i], kEncoders[i]);
    scanIdle(panel.idle, idleSeconds);
}
}

void LindquarBsp::eventLoop() {
    while (IOArray::has_data() != 0) scanFrame(panel, idleSeconds);
}

void LindquarBsp::applyTheme() {
    lv_display_t* display = lv_display_get_default();
    lv_theme_t* theme = lv_theme_default_init(display, lv_palette_main(LV_PALETTE_BLUE),
                                              lv_palette_main(LV_PALETTE_RED), true, &lv_font_montserrat_14);
    lv_display_set_theme(display, theme);
}

lv_obj_t* LindquarBsp::boardLabel(int x, int y, int width, int height, const lv_font_t* font, const char* text) {
    lv_obj_t* label = lv_label_create(lv_screen_active());
    lv_obj_set_pos(label, x, y);
    lv_obj_set_size(label, width, height);
    lv_label_set_long_mode(label, LV_LABEL_LONG_MODE_DOTS);
    lv_obj_set_style_text_font(label, font, 0);
    lv_label_set_text(label, text);
    return label;
}

void LindquarBsp::splash() {
    applyTheme();
    lv_obj_t* name = boardLabel(0, 54, 320, 45, &lv_font_montserrat_28, "Corvinhallow");
    lv_obj_set_style_text_align(name, LV_TEXT_ALIGN_CENTER, 0);
    lv_obj_t* model = boardLabel(126, 82, 179, 48, &lv_font_montserrat_40, "PRO");
    lv_obj_set_style_text_align(model, LV_TEXT_ALIGN_CENTER, 0);
}
