#include "core/SourceMidi.h"

#include <asm/termbits.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "porting/Log.h"
#include "porting/Paths.h"
#include "porting/Shims.h"

namespace {
const char* TAG = "MIDI";

// Data bytes that follow a status byte; system common messages are read to stay in step, then dropped.
int dataBytes(uint8_t status) {
    switch (status & 0xF0) {
    case 0xC0:
    case 0xD0:
        return 1;
    case 0xF0:
        return status == 0xF1 || status == 0xF3 ? 1 : status == 0xF2 ? 2 : 0;
    default:
        return 2;
    }
}
}

SourceMidi::SourceMidi(const char* name, const char* description, const char* tty, int, int)
    : Source(name, description, Kind::Midi), tty(tty ? tty : "") {
    open();
}

SourceMidi::~SourceMidi() {
    if (fd >= 0) ::close(fd);
}

bool SourceMidi::open() {
    const std::string path = devicePath(tty);
    if (path.empty()) {
        LOGW(TAG, "%s: no device for %s; MIDI input off\n", getName().c_str(), tty.c_str());
        return false;
    }
    fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        LOGE(TAG, "%s: cannot open %s: %s; MIDI input off\n", getName().c_str(), path.c_str(), std::strerror(errno));
        return false;
    }
    termios2 settings{};
    if (ioctl(fd, TCGETS2, &settings) != 0) {
        LOGE(TAG, "%s: %s is no serial device: %s; MIDI input off\n", getName().c_str(), path.c_str(),
             std::strerror(errno));
        ::close(fd);
        fd = -1;
        return false;
    }
    // Raw: no break, parity, CR/NL or XON/XOFF handling on input, no output processing, no line editing.
    settings.c_iflag &=
        ~tcflag_t(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY | INPCK | IUCLC);
    settings.c_oflag &= ~tcflag_t(OPOST);
    settings.c_lflag &= ~tcflag_t(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    settings.c_cflag &= ~tcflag_t(CSIZE | PARENB | CSTOPB | CRTSCTS);
    settings.c_cflag |= CS8 | CREAD | CLOCAL;
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 0;
    if (ioctl(fd, TCSETS2, &settings) != 0) {
        LOGE(TAG, "%s: cannot set %s raw: %s; MIDI input off\n", getName().c_str(), path.c_str(), std::strerror(errno));
        ::close(fd);
        fd = -1;
        return false;
    }
    // 31,250 baud is no standard rate: a custom divisor through BOTHER.
    settings.c_cflag &= ~tcflag_t(CBAUD);
    settings.c_cflag |= BOTHER;
    settings.c_ispeed = settings.c_ospeed = baudRate;
    if (ioctl(fd, TCSETS2, &settings) != 0) {
        LOGW(TAG, "%s: %s refused %d baud: %s\n", getName().c_str(), path.c_str(), baudRate, std::strerror(errno));
    }
    ioctl(fd, TCFLSH, TCIFLUSH);
    LOGI(TAG, "%s: reading %s\n", getName().c_str(), path.c_str());
    return true;
}

void SourceMidi::tasks() {
    if (fd < 0) return;
    uint8_t buffer[256];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            feed(buffer, size_t(n), esp_timer_get_time());
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && !readErrorLogged) {
            LOGE(TAG, "%s: read failed: %s\n", getName().c_str(), std::strerror(errno));
            readErrorLogged = true;
        }
        return;
    }
}

void SourceMidi::feed(const uint8_t* bytes, size_t length, int64_t time) {
    for (size_t k = 0; k < length; ++k) parse(bytes[k], time);
}

void SourceMidi::parse(uint8_t byte, int64_t time) {
    if (byte >= 0xF8) {
        ControlMessage message;
        message.time = time;
        switch (byte) {
        case 0xF8:
            message.type = ControlMessage::Type::Clock;
            break;
        case 0xFA:
            message.type = ControlMessage::Type::Start;
            break;
        case 0xFB:
            message.type = ControlMessage::Type::Continue;
            break;
        case 0xFC:
            message.type = ControlMessage::Type::Stop;
            break;
        default:
            return;
        }
        send(message);
        return;
    }
    if (byte & 0x80) {
        inSysEx = byte == 0xF0;
        // System common messages cancel running status.
        status = byte == 0xF0 || byte == 0xF7 ? 0 : byte;
        expected = status ? dataBytes(status) : 0;
        received = 0;
        if (status >= 0xF0 && expected == 0) status = 0;
        return;
    }
    if (inSysEx || status == 0) return;
    data[received++] = byte;
    if (received < expected) return;
    received = 0;
    complete(time);
    if (status >= 0xF0) status = 0;
}

void SourceMidi::complete(int64_t time) {
    ControlMessage message;
    message.time = time;
    message.channel = status & 0x0F;
    message.number = data[0];
    switch (status & 0xF0) {
    case 0xB0:
        message.type = ControlMessage::Type::ControlChange;
        message.value = data[1];
        break;
    case 0xC0:
        message.type = ControlMessage::Type::ProgramChange;
        break;
    default:
        return;
    }
    send(message);
}
