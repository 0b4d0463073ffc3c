#pragma once
// Every event id of the user interface in one table. Ids are plain ints queued through
// EventDispatcher::addEvent; the pages compare against these names.
//
// Each push button and footswitch has four ids in a row: press (it leaves rest, 50 ms after the contact
// settles), short release (released before 1.5 s), long press (held for 1.5 s, sent once) and long release
// (released after a long press). Each encoder has a forward and a back id.
#include <initializer_list>

namespace EventId {

// Queued by the UI pass every sixth pass: pages rebuild their objects.
constexpr int Redraw = 1;
// Queued by pages: the dispatcher closes (deletes) the top page.
constexpr int Close = 2;
// No encoder or encoder push activity for the board's idle time (30 s); repeated every further 30 s.
constexpr int Idle = 3;
// Every 200 ms from the input/service thread.
constexpr int Tick = 20;

// Offsets inside a button's group of four.
constexpr int Press = 0;
constexpr int ShortRelease = 1;
constexpr int LongPress = 2;
constexpr int LongRelease = 3;

// Encoder 1, the main encoder: next row / increase, previous row / decrease; its push selects (13).
constexpr int Encoder1Forward = 10;
constexpr int Encoder1Back = 11;
constexpr int Encoder1Press = 12;
constexpr int Encoder1ShortRelease = 13;
constexpr int Encoder1LongPress = 14;
constexpr int Encoder1LongRelease = 15;

constexpr int FootswitchAPress = 16;
constexpr int FootswitchAShortRelease = 17;
constexpr int FootswitchALongPress = 18;
constexpr int FootswitchALongRelease = 19;

// Encoder 2; its short push goes back (43).
constexpr int Encoder2Forward = 40;
constexpr int Encoder2Back = 41;
constexpr int Encoder2Press = 42;
constexpr int Encoder2ShortRelease = 43;
constexpr int Encoder2LongPress = 44;
constexpr int Encoder2LongRelease = 45;

constexpr int FootswitchBPress = 46;
constexpr int FootswitchBShortRelease = 47;
constexpr int FootswitchBLongPress = 48;
constexpr int FootswitchBLongRelease = 49;

// Two footswitches pressed together and released within 1.5 s.
constexpr int FootswitchesAB = 50;
constexpr int FootswitchesBC = 51;

constexpr int Encoder3Forward = 240;
constexpr int Encoder3Back = 241;
constexpr int Encoder3Press = 242;
constexpr int Encoder3ShortRelease = 243;
constexpr int Encoder3LongPress = 244;
constexpr int Encoder3LongRelease = 245;

constexpr int FootswitchCPress = 246;
constexpr int FootswitchCShortRelease = 247;
constexpr int FootswitchCLongPress = 248;
constexpr int FootswitchCLongRelease = 249;

constexpr int Encoder4Forward = 340;
constexpr int Encoder4Back = 341;
constexpr int Encoder4Press = 342;
constexpr int Encoder4ShortRelease = 343;
constexpr int Encoder4LongPress = 344;
constexpr int Encoder4LongRelease = 345;

constexpr int Encoder5Forward = 440;
constexpr int Encoder5Back = 441;
constexpr int Encoder5Press = 442;
constexpr int Encoder5ShortRelease = 443;
constexpr int Encoder5LongPress = 444;
constexpr int Encoder5LongRelease = 445;

// Any id of footswitch A, B or C, or of their two combinations.
constexpr bool isFootswitch(int id) {
    return (id >= FootswitchAPress && id <= FootswitchALongRelease) ||
           (id >= FootswitchBPress && id <= FootswitchesBC) || (id >= FootswitchCPress && id <= FootswitchCLongRelease);
}

// The first id (the forward turn) of the encoder group id belongs to, or -1.
constexpr int encoderGroup(int id) {
    for (int first : {Encoder1Forward, Encoder2Forward, Encoder3Forward, Encoder4Forward, Encoder5Forward}) {
        if (id >= first && id <= first + 5) return first;
    }
    return -1;
}
constexpr bool isEncoder(int id) { return encoderGroup(id) >= 0; }
// A turn of an encoder either way.
constexpr bool isEncoderTurn(int id) { return isEncoder(id) && id - encoderGroup(id) <= 1; }
// The short or long release of an encoder's push.
constexpr bool isEncoderRelease(int id) {
    return isEncoder(id) && (id - encoderGroup(id) == 3 || id - encoderGroup(id) == 5);
}

// The long release of the encoder of id: its push's group of four follows its two turns.
constexpr int encoderLongRelease(int id) { return encoderGroup(id) + 2 + LongRelease; }

// The short release of footswitch A, B or C.
constexpr bool isFootswitchShortRelease(int id) {
    return id == FootswitchAShortRelease || id == FootswitchBShortRelease || id == FootswitchCShortRelease;
}

}
