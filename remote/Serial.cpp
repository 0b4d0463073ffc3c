#include "Serial.h"

#include "Log.h"
#include "Paths.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace {
const char* const TAG = "Serial";
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
    if (active) return;
    std::string path = devicePath(device);
    fd = path.empty() ? -1 : open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        LOGE(TAG, "%s - error\n", device.c_str());
        return;
    }
    LOGI(TAG, "%s - making serial port raw\n", device.c_str());
    make_port_raw(fd);
    LOGI(TAG, "%s - load complete\n", device.c_str());
    active = true;
}

void Serial::tasks() {
    if (!active) return;
    receive();
    if (reply.empty()) takeRequest();
    sendReply();
}

void Serial::receive() {
    if (index == bufferSize) {
        // Complete requests still waiting are kept; a full buffer without any NUL is one oversized request.
        if (std::memchr(buffer.data(), 0, size_t(index))) return;
        LOGW(TAG, "%s - request longer than %d bytes dropped\n", device.c_str(), bufferSize - 1);
        index = 0;
        discarding = true;
    }
    ssize_t count = ::read(fd, buffer.data() + index, size_t(bufferSize - index));
    if (count <= 0) return;
    if (!discarding) {
        index += int(count);
        return;
    }
    char* start = buffer.data() + index;
    char* end = static_cast<char*>(std::memchr(start, 0, size_t(count)));
    if (!end) return;
    size_t rest = size_t(start + count - (end + 1));
    std::memmove(start, end + 1, rest);
    index += int(rest);
    discarding = false;
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

void Serial::sendReply() {
    if (reply.empty()) return;
    // The reply goes out with its terminating NUL, which c_str() provides.
    size_t total = reply.size() + 1;
    ssize_t count = ::write(fd, reply.c_str() + sent, total - sent);
    if (count > 0) sent += size_t(count);
    if (sent >= total) {
        reply.clear();
        sent = 0;
    }
}
