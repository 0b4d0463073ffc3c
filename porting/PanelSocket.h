#pragma once
// The host's stand-in for the front panel's shift-register chain on "/dev/spidev0.0": a Unix socket that a
// simulated panel (tools/panel.py) connects to. Every transfer takes the panel's latest input frame and
// passes the output frame on to the panel, paced at the bus clock's rate as the kernel driver paces it. The
// messages and the frame layout are in docs/panel-protocol.md.
//
// Threads: the SPI calls come from the input/output array's SPI thread, which also does all the socket's
// work, every 64 transfers and without blocking; ain0Millivolts may be read from any thread.
#include "porting/SpiPort.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

class PanelSocket : public SpiPort {
public:
    static constexpr const char* kDevice = "/dev/spidev0.0";
    static constexpr int kFramesPerMessage = 64;
    static constexpr size_t kMaxFrameBytes = 16;

    // Listens on socketPath (a stale socket file is replaced; one that a running pedal answers is not).
    // Null with a log line when it cannot listen.
    static std::shared_ptr<PanelSocket> listen(const std::string& socketPath);
    // The panel of the host program: on $PEDAL_PANEL, or $PEDAL_HOME/panel.sock when that is unset; none
    // when it is "off".
    static std::shared_ptr<PanelSocket> fromEnvironment();
    ~PanelSocket() override;
    PanelSocket(const PanelSocket&) = delete;
    PanelSocket& operator=(const PanelSocket&) = delete;

    std::string deviceFor(const char* path) override { return path; }
    int open(const char* path) override;
    int writeMode(int fd, uint8_t mode) override;
    int readMode(int fd, uint8_t& mode) override;
    int message(int fd, spi_ioc_transfer& transfer) override;

    // The expression pedal's position the panel last sent, in millivolts on the converter's AIN0.
    int ain0Millivolts() const { return ain0.load(std::memory_order_relaxed); }
    // True while a panel is connected.
    bool connected() const { return panelConnected.load(); }

private:
    PanelSocket(int listenFd, std::string socketPath);
    void pace(const spi_ioc_transfer& transfer);
    void exchangeWithPanel();
    void acceptPanel();
    void readPanel();
    bool parseMessages();
    void sendFrames();
    void dropPanel(const char* why);

    static constexpr int kDescriptor = 3;

    const int listenFd;
    const std::string socketPath;
    int panelFd = -1;
    std::atomic<bool> panelConnected{false};
    std::atomic<int> ain0{0};
    uint8_t mode = 0;

    // SPI thread only.
    std::vector<uint8_t> inputFrame;
    std::deque<std::vector<uint8_t>> pendingInputs;
    std::vector<uint8_t> received;
    // The frames of the message being gathered, and what the socket has not taken yet of the last one.
    std::vector<uint8_t> frames;
    size_t frameBytes = 0;
    int frameCount = 0;
    int transfersSinceExchange = 0;
    std::vector<uint8_t> unsent;
    std::chrono::steady_clock::time_point busTime{};
};
