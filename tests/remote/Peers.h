#pragma once
// The computer's end of a transport, driven by the test: a real pseudo-terminal or a loopback TCP socket.
#include <functional>
#include <string>

class StreamPeer {
public:
    virtual ~StreamPeer();
    StreamPeer() = default;
    StreamPeer(const StreamPeer&) = delete;
    StreamPeer& operator=(const StreamPeer&) = delete;

    int fd() const { return descriptor; }
    // Writes all bytes, running step() whenever the pedal's side is full; false on an error or when it stays
    // full for the bounded number of passes.
    bool send(const std::string& bytes, const std::function<void()>& step);
    // Runs step() and collects bytes until `count` NUL-terminated replies are in, the peer closed, or the
    // bounded number of passes ended. readLimit caps each read (a slow reader).
    std::string receive(int count, const std::function<void()>& step, size_t readLimit = 65536);
    // What has arrived so far, without waiting.
    std::string drain();
    // True once the pedal has closed the connection (a read returns end of file).
    bool closedByPedal();

protected:
    int descriptor = -1;
};

// A pseudo-terminal whose terminal end is linked where the pedal opens "/dev/ttyGS0" (PEDAL_DEV_ROOT is set
// to a fresh folder); the test holds the other end.
class PtyPeer : public StreamPeer {
public:
    PtyPeer();
    ~PtyPeer() override;
    const std::string& terminalPath() const { return terminal; }
    // Closes the test's copy of the terminal end once the pedal has opened it.
    void releaseTerminal();
    // The cable: unplugging closes the test's end (the pedal's end hangs up) and removes the device;
    // plugging in makes a new pseudo-terminal at the same place.
    void unplug();
    void plugIn();

private:
    int terminalFd = -1;
    std::string terminal;
    std::string link;
};

// A non-blocking TCP client connected to 127.0.0.1:port.
class TcpPeer : public StreamPeer {
public:
    explicit TcpPeer(int port, int receiveBuffer = 0);
    bool connected() const { return descriptor >= 0; }
    // Closes with a reset instead of an orderly close.
    void reset();
    // An orderly close of both directions.
    void closeNormally();
    void closeWriting();
};
