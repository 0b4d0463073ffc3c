#pragma once
#include "ComInterface.h"

#include <string>
#include <vector>

// Remote control over the USB serial gadget port: NUL-terminated requests in, NUL-terminated replies out,
// polled by the "comTasks" thread. On the host the device path is remapped (Paths.h), so a test puts a
// pseudo-terminal there.
class Serial : public ComInterface {
public:
    static constexpr int bufferSize = 10000;

    // The two integers are settings that nothing reads (0 and 0 in the product).
    Serial(Node* root, const char* device, int setting1, int setting2);
    ~Serial() override;

    // Opens the port and puts it into raw mode; on failure the transport stays inactive for the run.
    void initialize() override;
    // One pass: read what arrived, take at most one complete request, write what the port accepts of the
    // pending reply.
    void tasks() override;

    bool isActive() const { return active; }

private:
    void receive();
    void takeRequest();
    void sendReply();

    std::string device;
    int fd = -1;
    std::vector<char> buffer;
    int index = 0;
    // A request outgrew the buffer: its bytes are dropped up to and including its NUL.
    bool discarding = false;
    size_t sent = 0;
    bool active = false;
    std::string reply;
};

// Puts the terminal behind fd into raw mode: no translation of received or sent bytes, no flow control, no
// signals, 8-bit characters, reads return as soon as one byte is there. Returns 0 on success.
int make_port_raw(int fd);
