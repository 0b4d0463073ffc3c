#pragma once
// The RGB status LED on three PWM lines of the input/output array: a stored user colour, an optional
// on/off switch, a temporary override colour and a red blink (200 ms on, 200 ms off) while the audio input
// or output clips. Until initialize has run, tasks() does nothing and writes no line, so a product that does
// not arm the LED keeps those lines for its own use.
//
// Threads: tasks on the input thread ("eventTasks", every 10 ms); the setters from any thread.
#include <string>

class Node;
class NodeColor;
class NodeEnum;

class Light {
public:
    // The array lines of the LED's red, green and blue components.
    static constexpr int kRedLine = 4;
    static constexpr int kGreenLine = 7;
    static constexpr int kBlueLine = 2;

    // Once only: arms the LED and creates its stored colour item "color" under parent (default: the
    // default colour).
    static void initialize(Node* parent);
    // Disarmed with every setting back to its default, as before initialize; the colour item stays in its
    // tree.
    static void deinitialize();
    // The on/off switch the LED follows ("OFF": dark); null: none.
    static void setStatus(NodeEnum* status);
    static void enable();
    static void disable();
    // The colour item's default, for an initialize still to come.
    static void setDefaultColor(std::string color);
    // Once armed: the stored colour becomes color (six hexadecimal digits, else refused) and the
    // temporary override ends.
    static void forceColor(std::string color);
    // A temporary colour shown instead of the stored one: six hexadecimal digits; anything else ends the
    // override.
    static void setTempColor(std::string color);
    // Whether the audio clips: asked on each update; installed by the board, since the drivers sit below the
    // audio engine. Null (the default): never.
    using ClipProbe = bool (*)();
    static void setClipProbe(ClipProbe probe);
    // One update of the LED's three lines.
    static void tasks();

    // The stored colour item; null before initialize.
    static NodeColor* colorNode();
};
