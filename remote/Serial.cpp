#include "remote/Serial.h"

#include "porting/Log.h"
#include "porting/Paths.h"
#include "porting/Shims.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {
const char* const TAG = "Serial";
// Reads a pass may spend on a request being dropped: 2.5 MB, far more than a port delivers between passes.
const int kDiscardReadsPerPass = 256;
}

int make_port_raw(int fd) {
    termios attributes{};
    int result = tcgetattr(fd, &attributes);
    if (result != 0) return result;
    // Every input translation goes, not only CR to LF: IGNCR and INLCR would eat or change the "\r" of the
    // protocol's separator, ISTRIP the eighth bit, PARMRK and BRKINT insert or signal on special bytes.
    attributes.c_iflag &= ~tcflag_t(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY);
    attributes.c_oflag &= ~tcflag_t(OPOST);
    // IEXTEN would take the literal-next byte (0x16) and its follower out of the data.
    attributes.c_lflag &= ~tcflag_t(ICANON | ECHO | ECHOE | ECHONL | ISIG | IEXTEN);
    attributes.c_cflag &= ~tcflag_t(CSIZE | PARENB);
    attributes.c_cflag |= CS8;
    attributes.c_cc[VMIN] = 1;
    attributes.c_cc[VTIME] = 0;
    return tcsetattr(fd, TCSANOW, &attributes);
}

Serial::Serial(Node* root, const char* device, int, int)
    : ComInterface(root), device(device ? device : ""), buffer(bufferSize) {}

Serial::~Serial() {
    if (fd >= 0) close(fd);
}

void Serial::initialize() {
    if (initialized) return;
    initialized = true;
    if (openPort()) return;
    LOGE(TAG, "%s - error\n", device.c_str());
    reopenAt = esp_timer_get_time() + reopenDelay;
}

bool Serial::openPort() {
    std::string path = devicePath(device);
    if (path.empty()) return false;
    fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    if (!outage) LOGI(TAG, "%s - making serial port raw\n", device.c_str());
    make_port_raw(fd);
    if (!outage) LOGI(TAG, "%s - load complete\n", device.c_str());
    active = true;
    return true;
}

void Serial::lose(int64_t now) {
    if (!outage) LOGW(TAG, "%s - port lost, opening it again\n", device.c_str());
    outage = true;
    close(fd);
    fd = -1;
    active = false;
    // Nothing of the lost connection reaches the next one: neither the half-received request nor the reply.
    index = 0;
    discarding = false;
    reply.clear();
    sent = 0;
    reopenAt = now + reopenDelay;
}

void Serial::tasks() {
    if (!initialized || devicePath(device).empty()) return;
    int64_t now = esp_timer_get_time();
    bool reopened = false;
    if (fd < 0) {
        if (now < reopenAt) return;
        reopened = openPort();
        if (!reopened) {
            reopenDelay = std::min(reopenDelay * 2, REOPEN_MAX_US);
            reopenAt = now + reopenDelay;
            return;
        }
    }
    if (!receive()) {
        // A port that opens and fails at once (a gadget without a host) is the same outage, not a new one:
        // the delay keeps growing and nothing more is logged.
        if (reopened) reopenDelay = std::min(reopenDelay * 2, REOPEN_MAX_US);
        return lose(now);
    }
    if (reopened) {
        if (outage) LOGI(TAG, "%s - port back\n", device.c_str());
        outage = false;
        reopenDelay = REOPEN_FIRST_US;
    }
    if (reply.empty() && !answersHeld(now)) takeRequest();
    if (!sendReply()) lose(now);
}

bool Serial::receive() {
    pollfd entry{fd, POLLIN, 0};
    // A hang-up stays reported while the descriptor is open: the port is gone until it is opened again.
    if (poll(&entry, 1, 0) < 0) return errno == EINTR;
    if (entry.revents & (POLLHUP | POLLERR | POLLNVAL)) return false;
    if (index == bufferSize) {
        // Complete requests still waiting are kept; a full buffer without any NUL is one oversized request.
        if (std::memchr(buffer.data(), 0, size_t(index))) return true;
        if (uint32_t dropped = 0; overlongLog.due(dropped))
            LOGW(TAG, "%s - request longer than %d bytes dropped (%u since the last line)\n", device.c_str(),
                 bufferSize - 1, unsigned(dropped));
        index = 0;
        discarding = true;
    }
    // A request being dropped is read to its end, or as far as it has come, in one pass: the next request
    // must not wait behind a pass per buffer of it.
    for (int reads = 0; reads < kDiscardReadsPerPass; ++reads) {
        ssize_t count = ::read(fd, buffer.data() + index, size_t(bufferSize - index));
        if (count == 0) return false;
        if (count < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
        if (!discarding) {
            index += int(count);
            return true;
        }
        char* start = buffer.data() + index;
        char* end = static_cast<char*>(std::memchr(start, 0, size_t(count)));
        if (!end) continue;
        size_t rest = size_t(start + count - (end + 1));
        std::memmove(start, end + 1, rest);
        index += int(rest);
        discarding = false;
        return true;
    }
    return true;
}

void Serial::takeRequest() {
    char* end = static_cast<char*>(std::memchr(buffer.data(), 0, size_t(index)));
    if (!end) return;
    std::string request(buffer.data(), end);
    // Requests that arrived behind this one stay for the next passes.
    int consumed = int(end - buffer.data()) + 1;
    std::memmove(buffer.data(), end + 1, size_t(index - consumed));
    index -= consumed;
    reply = processRequest(std::move(request));
    sent = 0;
}

bool Serial::sendReply() {
    if (reply.empty()) return true;
    // The reply goes out with its terminating NUL, which c_str() provides.
    size_t total = reply.size() + 1;
    ssize_t count = ::write(fd, reply.c_str() + sent, total - sent);
    if (count < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
    sent += size_t(count);
    if (sent >= total) {
        reply.clear();
        sent = 0;
    }
    return true;
}
