#pragma once
#include <cstdint>
#include <string>

#include "core/Source.h"

// MIDI input on a serial device (the UART at 31,250 baud). The device is opened raw through devicePath (on
// the host only under $PEDAL_DEV_ROOT), with every input translation off so that any byte passes (0x0D, 0x11
// and 0x13 included). A refused speed is a warning; a device that cannot be opened logs once and the source
// stays inactive.
//
// Parser: running status; real-time bytes (0xF8..0xFF) are handled wherever they come, also inside a
// message; SysEx and the other system common messages are skipped. Control change and program change go to
// the bindings, as do clock, start, continue and stop.
class SourceMidi : public Source {
public:
    static constexpr int baudRate = 31250;

    // The two integers are not used.
    SourceMidi(const char* name, const char* description, const char* tty, int, int);
    ~SourceMidi() override;

    bool isOpen() const { return fd >= 0; }
    // Reads what the device holds and sends the messages it completes.
    void tasks() override;
    // Parses bytes read at time.
    void feed(const uint8_t* bytes, size_t length, int64_t time);

private:
    bool open();
    void parse(uint8_t byte, int64_t time);
    void complete(int64_t time);

    const std::string tty;
    int fd = -1;
    bool readErrorLogged = false;
    uint8_t status = 0; // running status; 0 for none
    int expected = 0;   // data bytes of the current status
    int received = 0;
    uint8_t data[2] = {};
    bool inSysEx = false;
};
