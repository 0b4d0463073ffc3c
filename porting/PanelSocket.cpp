#include "porting/PanelSocket.h"

#include "porting/Log.h"
#include "porting/Paths.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace {
const char* const TAG = "Panel";

// Inputs the panel may queue ahead of the chain; more means it sends faster than any hand turns a knob.
constexpr size_t kMaxPendingInputs = 256;
// The chain runs ahead of the clock by at most this much before the port waits, so the thread wakes a few
// hundred times a second rather than on every frame.
constexpr auto kPaceSlack = std::chrono::milliseconds(4);
// A thread held up longer than this resumes at the clock instead of rushing through the frames it missed.
constexpr auto kPaceCatchUp = std::chrono::milliseconds(100);

bool fillAddress(const std::string& path, sockaddr_un& address) {
    address = sockaddr_un{};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path) return false;
    std::memcpy(address.sun_path, path.c_str(), path.size());
    return true;
}

// True when a process accepts connections on the socket file at path.
bool answers(const sockaddr_un& address) {
    const int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (probe < 0) return false;
    const bool connected = ::connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(probe);
    return connected;
}

bool wouldBlock(int error) { return error == EAGAIN || error == EWOULDBLOCK; }
}

std::shared_ptr<PanelSocket> PanelSocket::listen(const std::string& socketPath) {
    sockaddr_un address;
    if (!fillAddress(socketPath, address)) {
        LOGE(TAG, "cannot listen on %s: too long for a socket path (PEDAL_PANEL may name a shorter one)\n",
             socketPath.c_str());
        return nullptr;
    }
    if (answers(address)) {
        LOGE(TAG, "another pedal serves its panel on %s; no panel for this one\n", socketPath.c_str());
        return nullptr;
    }
    ::unlink(socketPath.c_str());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0 || ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) < 0 || ::listen(fd, 4) < 0) {
        LOGE(TAG, "cannot listen on %s: %s\n", socketPath.c_str(), std::strerror(errno));
        if (fd >= 0) ::close(fd);
        return nullptr;
    }
    LOGI(TAG, "a panel may connect to %s\n", socketPath.c_str());
    return std::shared_ptr<PanelSocket>(new PanelSocket(fd, socketPath));
}

std::shared_ptr<PanelSocket> PanelSocket::fromEnvironment() {
    const char* setting = std::getenv("PEDAL_PANEL");
    if (setting && std::strcmp(setting, "off") == 0) return nullptr;
    return listen(setting && *setting ? std::string(setting) : homePath() + "/panel.sock");
}

PanelSocket::PanelSocket(int listenFd, std::string socketPath)
    : listenFd(listenFd), socketPath(std::move(socketPath)) {}

PanelSocket::~PanelSocket() {
    if (panelFd >= 0) ::close(panelFd);
    ::close(listenFd);
    ::unlink(socketPath.c_str());
}

int PanelSocket::open(const char* path) {
    if (std::strcmp(path, kDevice) != 0) {
        errno = ENOENT;
        return -1;
    }
    return kDescriptor;
}

int PanelSocket::writeMode(int fd, uint8_t newMode) {
    if (fd != kDescriptor) {
        errno = EBADF;
        return -1;
    }
    mode = newMode;
    return 0;
}

int PanelSocket::readMode(int fd, uint8_t& currentMode) {
    if (fd != kDescriptor) {
        errno = EBADF;
        return -1;
    }
    currentMode = mode;
    return 0;
}

int PanelSocket::message(int fd, spi_ioc_transfer& transfer) {
    if (fd != kDescriptor) {
        errno = EBADF;
        return -1;
    }
    if (transfer.len == 0 || transfer.len > kMaxFrameBytes) {
        errno = EINVAL;
        return -1;
    }
    pace(transfer);
    if (!pendingInputs.empty()) {
        inputFrame = std::move(pendingInputs.front());
        pendingInputs.pop_front();
    }
    const auto* out = reinterpret_cast<const uint8_t*>(uintptr_t(transfer.tx_buf));
    auto* in = reinterpret_cast<uint8_t*>(uintptr_t(transfer.rx_buf));
    // Lines the panel has not sent are at rest: open contacts read 1.
    for (uint32_t i = 0; i < transfer.len; ++i) in[i] = i < inputFrame.size() ? inputFrame[i] : 0xFF;

    if (panelFd >= 0) {
        if (frameBytes != transfer.len) {
            frames.clear();
            frameCount = 0;
            frameBytes = transfer.len;
        }
        frames.insert(frames.end(), out, out + transfer.len);
        ++frameCount;
    }
    if (++transfersSinceExchange >= kFramesPerMessage) {
        transfersSinceExchange = 0;
        exchangeWithPanel();
    }
    return int(transfer.len);
}

void PanelSocket::pace(const spi_ioc_transfer& transfer) {
    if (transfer.speed_hz == 0) return;
    const auto now = std::chrono::steady_clock::now();
    if (busTime < now - kPaceCatchUp) busTime = now;
    busTime += std::chrono::nanoseconds(int64_t(transfer.len) * 8 * 1000000000 / transfer.speed_hz);
    if (busTime - now > kPaceSlack) std::this_thread::sleep_until(busTime);
}

void PanelSocket::exchangeWithPanel() {
    // The panel that is connected goes first, so one that has gone makes room for the next.
    if (panelFd >= 0) sendFrames();
    if (panelFd >= 0) readPanel();
    acceptPanel();
}

void PanelSocket::acceptPanel() {
    while (true) {
        const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) return;
        // One panel at a time: a second one (or another pedal checking whether the socket is in use) is
        // turned away, told why, so a window can say so instead of taking it for a pedal that has gone.
        if (panelFd >= 0) {
            ::send(fd, "B", 1, MSG_DONTWAIT | MSG_NOSIGNAL);
            ::close(fd);
            continue;
        }
        panelFd = fd;
        panelConnected.store(true);
        LOGI(TAG, "panel connected\n");
    }
}

void PanelSocket::sendFrames() {
    // A message the socket has only partly taken is finished first, so the panel never sees a torn one;
    // frames gathered meanwhile are left out.
    if (unsent.empty() && frameCount > 0) {
        unsent.push_back('F');
        unsent.push_back(uint8_t(frameBytes));
        unsent.push_back(uint8_t(frameCount));
        unsent.insert(unsent.end(), frames.begin(), frames.end());
    }
    frames.clear();
    frameCount = 0;
    if (unsent.empty()) return;
    const ssize_t sent = ::send(panelFd, unsent.data(), unsent.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    if (sent < 0) {
        if (!wouldBlock(errno)) dropPanel("left");
        return;
    }
    unsent.erase(unsent.begin(), unsent.begin() + sent);
}

void PanelSocket::readPanel() {
    uint8_t chunk[512];
    while (true) {
        const ssize_t count = ::recv(panelFd, chunk, sizeof chunk, MSG_DONTWAIT);
        if (count == 0 || (count < 0 && !wouldBlock(errno))) {
            dropPanel("left");
            return;
        }
        if (count < 0) break;
        received.insert(received.end(), chunk, chunk + count);
        if (!parseMessages()) return;
    }
}

bool PanelSocket::parseMessages() {
    size_t at = 0;
    while (at < received.size()) {
        const uint8_t type = received[at];
        const size_t left = received.size() - at;
        if (type == 'I') {
            if (left < 2) break;
            const size_t bytes = received[at + 1];
            if (bytes == 0 || bytes > kMaxFrameBytes) {
                dropPanel("sent an input frame of a wrong size and was dropped");
                return false;
            }
            if (left < 2 + bytes) break;
            if (pendingInputs.size() >= kMaxPendingInputs) pendingInputs.pop_front();
            pendingInputs.emplace_back(received.begin() + long(at + 2), received.begin() + long(at + 2 + bytes));
            at += 2 + bytes;
        } else if (type == 'A') {
            if (left < 3) break;
            ain0.store(received[at + 1] << 8 | received[at + 2], std::memory_order_relaxed);
            at += 3;
        } else {
            dropPanel("sent an unknown message and was dropped");
            return false;
        }
    }
    received.erase(received.begin(), received.begin() + long(at));
    return true;
}

void PanelSocket::dropPanel(const char* why) {
    ::close(panelFd);
    panelFd = -1;
    panelConnected.store(false);
    inputFrame.clear();
    pendingInputs.clear();
    received.clear();
    frames.clear();
    frameCount = 0;
    unsent.clear();
    LOGI(TAG, "panel %s\n", why);
}
