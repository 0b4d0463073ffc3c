#pragma once
#include "porting/LogLimit.h"
#include "remote/ComInterface.h"

#include <string>
#include <vector>

// Remote control over the USB serial gadget port: NUL-terminated requests in, NUL-terminated replies out,
// polled by the "comTasks" thread. On the host the device path is remapped (Paths.h), so a test puts a
// pseudo-terminal there.
//
// The port goes away when the cable is unplugged (a hang-up or an error on the descriptor): the transport
// closes it, drops the request it was receiving and the reply it was sending, and opens the port again with
// a growing delay (REOPEN_FIRST_US doubled up to REOPEN_MAX_US), logging once when it is lost and once when
// it is back.
class Serial : public ComInterface {
public:
    static constexpr int bufferSize = 10000;
    static constexpr int64_t REOPEN_FIRST_US = 100000;
    static constexpr int64_t REOPEN_MAX_US = 2000000;

    // The two integers are settings that nothing reads (0 and 0 in the product).
    Serial(Node* root, const char* device, int setting1, int setting2);
    ~Serial() override;

    // Opens the port and puts it into raw mode. Without a device path (the host without PEDAL_DEV_ROOT) the
    // transport stays inactive for the run; a port that cannot be opened is tried again by tasks().
    void initialize() override;
    // One pass: reopen a lost port when its delay is over, read what arrived, take at most one complete
    // request (none while password answers are held back), write what the port accepts of the pending reply.
    void tasks() override;
    void heldTasks() override { tasks(); }
    const char* transportName() const override { return "serial"; }

    bool isActive() const { return active; }

private:
    bool openPort();
    void lose(int64_t now);
    bool receive();
    void takeRequest();
    bool sendReply();

    std::string device;
    int fd = -1;
    std::vector<char> buffer;
    int index = 0;
    // A request outgrew the buffer: its bytes are dropped up to and including its NUL.
    bool discarding = false;
    LogLimit overlongLog;
    size_t sent = 0;
    bool active = false;
    bool initialized = false;
    // Lost and not yet back: a port that opened and then passed a whole read without failing.
    bool outage = false;
    int64_t reopenAt = 0;
    int64_t reopenDelay = REOPEN_FIRST_US;
    std::string reply;
};

// Puts the terminal behind fd into raw mode: no translation of received or sent bytes, no flow control, no
// signals, 8-bit characters, reads return as soon as one byte is there. Returns 0 on success.
int make_port_raw(int fd);
