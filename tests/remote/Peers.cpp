#include "tests/remote/Peers.h"

#include "tests/remote/RemoteTestSupport.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {
// The kernel moves bytes on its own, so a pass may find nothing yet: a waiting pass polls for at most 1 ms,
// and at most this many passes run.
const int MAX_PASSES = 20000;

void waitFor(int fd, short events) {
    pollfd entry{fd, events, 0};
    poll(&entry, 1, 1);
}
}

StreamPeer::~StreamPeer() {
    if (descriptor >= 0) close(descriptor);
}

bool StreamPeer::send(const std::string& bytes, const std::function<void()>& step) {
    size_t done = 0;
    for (int pass = 0; done < bytes.size() && pass < MAX_PASSES; ++pass) {
        ssize_t count = ::send(descriptor, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (count < 0 && errno == ENOTSOCK) count = write(descriptor, bytes.data() + done, bytes.size() - done);
        if (count > 0) done += size_t(count);
        else if (count < 0 && errno != EAGAIN) return false;
        if (done < bytes.size()) {
            step();
            waitFor(descriptor, POLLOUT);
        }
    }
    return done == bytes.size();
}

std::string StreamPeer::receive(int count, const std::function<void()>& step, size_t readLimit) {
    std::string received;
    std::vector<char> buffer(std::max<size_t>(readLimit, 1));
    for (int pass = 0; pass < MAX_PASSES; ++pass) {
        step();
        ssize_t got = read(descriptor, buffer.data(), buffer.size());
        if (got > 0) received.append(buffer.data(), size_t(got));
        if (got == 0) break;
        if (std::count(received.begin(), received.end(), '\0') >= count) break;
        if (got < 0) waitFor(descriptor, POLLIN);
    }
    return received;
}

std::string StreamPeer::drain() {
    std::string received;
    char buffer[4096];
    ssize_t got;
    while ((got = read(descriptor, buffer, sizeof(buffer))) > 0) received.append(buffer, size_t(got));
    return received;
}

bool StreamPeer::closedByPedal() {
    char byte;
    ssize_t got = recv(descriptor, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    return got == 0 || (got < 0 && errno == ECONNRESET);
}

PtyPeer::PtyPeer() {
    std::string root = testFolder("dev-root");
    std::filesystem::create_directories(root + "/dev");
    link = root + "/dev/ttyGS0";
    setenv("PEDAL_DEV_ROOT", root.c_str(), 1);
    plugIn();
}

void PtyPeer::plugIn() {
    if (openpty(&descriptor, &terminalFd, nullptr, nullptr, nullptr) != 0) return;
    fcntl(descriptor, F_SETFL, fcntl(descriptor, F_GETFL) | O_NONBLOCK);
    terminal = ttyname(terminalFd);
    std::filesystem::create_symlink(terminal, link);
}

void PtyPeer::unplug() {
    releaseTerminal();
    if (descriptor >= 0) close(descriptor);
    descriptor = -1;
    std::filesystem::remove(link);
}

PtyPeer::~PtyPeer() { releaseTerminal(); }

void PtyPeer::releaseTerminal() {
    if (terminalFd >= 0) close(terminalFd);
    terminalFd = -1;
}

TcpPeer::TcpPeer(int port, int receiveBuffer) {
    descriptor = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (descriptor < 0) return;
    if (receiveBuffer > 0) setsockopt(descriptor, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof(receiveBuffer));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(uint16_t(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(descriptor, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        close(descriptor);
        descriptor = -1;
        return;
    }
    fcntl(descriptor, F_SETFL, fcntl(descriptor, F_GETFL) | O_NONBLOCK);
}

void TcpPeer::reset() {
    linger hard{1, 0};
    setsockopt(descriptor, SOL_SOCKET, SO_LINGER, &hard, sizeof(hard));
    close(descriptor);
    descriptor = -1;
}

void TcpPeer::closeNormally() {
    ::close(descriptor);
    descriptor = -1;
}

void TcpPeer::closeWriting() { shutdown(descriptor, SHUT_WR); }
