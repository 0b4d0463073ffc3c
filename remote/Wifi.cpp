#include "remote/Wifi.h"

#include "porting/CommandRunner.h"
#include "porting/Log.h"
#include "porting/LogLimit.h"
#include "porting/Mac.h"
#include "core/NodeItem.h"
#include "core/Security.h"
#include "porting/Process.h"
#include "remote/SandboxCommandRunner.h"
#include "remote/ServiceFile.h"
#include "porting/Shims.h"
#include "core/Storage.h"
#include "core/System.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {
const char* const WIFI_TAG = "Wifi";
const char* const MDNS_TAG = "Wifi MDNS";
const int64_t FAILURE_LOG_INTERVAL_US = 10000000;
const int RECEIVE_CAPACITY = Wifi::RECEIVE_BUFFER_SIZE - 1;
// Reads a pass may spend on a request being dropped (16 MB), and the line that says so, for every client.
const int DISCARD_READS_PER_PASS = 256;
LogLimit overlongLog;

bool tryAgain(int error) { return error == EAGAIN || error == EWOULDBLOCK || error == EINPROGRESS || error == EINTR; }

// Accept errors that say something about one connection or a passing shortage, not about the listening
// socket: the server keeps its clients and tries again next pass.
bool transientAcceptError(int error) {
    switch (error) {
    case ECONNABORTED:
    case EINTR:
    case EPROTO:
    case EPERM:
    case EMFILE:
    case ENFILE:
    case ENOBUFS:
    case ENOMEM:
    case ENETDOWN:
    case ENOPROTOOPT:
    case EHOSTDOWN:
    case ENONET:
    case EHOSTUNREACH:
    case EOPNOTSUPP:
    case ENETUNREACH:
    case ETIMEDOUT:
        return true;
    default:
        return false;
    }
}

// The address the server listens on, port still 0.
sockaddr_storage configuredBindAddress() {
    sockaddr_storage storage{};
    auto* ipv4 = reinterpret_cast<sockaddr_in*>(&storage);
    ipv4->sin_family = AF_INET;
#ifdef PEDAL_DEVICE
    ipv4->sin_addr.s_addr = htonl(INADDR_ANY);
#else
    ipv4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const char* text = std::getenv("PEDAL_TCP_ADDRESS");
    if (text && *text) {
        auto* ipv6 = reinterpret_cast<sockaddr_in6*>(&storage);
        in_addr address{};
        in6_addr address6{};
        if (inet_pton(AF_INET, text, &address) == 1) {
            ipv4->sin_addr = address;
        } else if (inet_pton(AF_INET6, text, &address6) == 1) {
            storage = sockaddr_storage{};
            ipv6->sin6_family = AF_INET6;
            ipv6->sin6_addr = address6;
        } else {
            LOGW(WIFI_TAG, "PEDAL_TCP_ADDRESS %s is no IP address, using 127.0.0.1\n", text);
        }
    }
#endif
    return storage;
}

socklen_t addressLength(const sockaddr_storage& address) {
    return address.ss_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
}

int configuredPort(int port) {
#ifndef PEDAL_DEVICE
    const char* text = std::getenv("PEDAL_TCP_PORT");
    if (text && *text) {
        char* end = nullptr;
        long value = std::strtol(text, &end, 10);
        if (*end == '\0' && value >= 0 && value <= 65535) return int(value);
        LOGW(WIFI_TAG, "PEDAL_TCP_PORT %s is no port number, using %d\n", text, port);
    }
#endif
    return port;
}

std::shared_ptr<CommandRunner> defaultRunner() {
#ifdef PEDAL_DEVICE
    return CommandRunner::current();
#else
    return SandboxCommandRunner::hostDefault();
#endif
}
}

Wifi::Wifi(Node* root, Node* nameNode, int port)
    : ComInterface(root),
      runner(defaultRunner()),
      nameNode(nameNode),
      port(configuredPort(port)),
      bindAddress(configuredBindAddress()) {
    Node* system = System::systemNode();
    Node* parent = system ? system : root;
    folderNode = new NodeItem(parent, "wifi", "WiFi", "", "vfolder");
    ssidNode = new NodeItem(folderNode, "ssid", "SSID", "", "string");
    passwordNode = new NodeItem(folderNode, "password", "Password", "", "string");
    passwordNode->setSecret(true);
    stateNode = new NodeItem(folderNode, "state", "State", "DISCONNECTED", "string");
    Storage::addItem(ssidNode);
    Storage::addItem(passwordNode);
    for (Client& client : clients) client.buffer.assign(RECEIVE_BUFFER_SIZE, 0);
}

Wifi::~Wifi() { closeAll(); }

std::string Wifi::nameText() const {
    if (!nameNode) return "";
    if (auto* item = dynamic_cast<NodeItem*>(nameNode)) return item->getValue();
    return nameNode->toString();
}

namespace {
// The last three bytes of the Bluetooth address: what tells one pedal from another on a network.
std::string identifierOf(const uint8_t mac[6]) {
    char text[7];
    std::snprintf(text, sizeof(text), "%02X%02X%02X", mac[3], mac[4], mac[5]);
    return text;
}
}

std::string Wifi::deviceIdentifier() {
    uint8_t mac[6];
    esp_read_mac(mac, 2);
    return identifierOf(mac);
}

void Wifi::initialize() {
    writeServiceFile();
    restartMDNS();
    auto body = [](void* wifi) { connectionsHandler(static_cast<Wifi*>(wifi)); };
    if (!xTaskCreatePinnedToCore(body, "wifiConnectionsHandler", 4096, this, 0, nullptr, 0))
        LOGE(WIFI_TAG, "Cannot start the connection thread\n");
    serverState = CREATE;
}

bool Wifi::writeServiceFile() {
    uint8_t mac[6];
    esp_read_mac(mac, 2);
    char macText[18];
    std::snprintf(macText, sizeof(macText), "%02X:%02X:%02X:%02X:%02X:%02X", mac[0], mac[1], mac[2], mac[3], mac[4],
                  mac[5]);
    std::string command = ServiceFile::command(identifierOf(mac), port, macText, nameText());
    if (runner->run(command) != 0) {
        LOGI(MDNS_TAG, "Failed to write service file\n");
        return false;
    }
    LOGI(MDNS_TAG, "Service file written successfully\n");
    return true;
}

void Wifi::restartMDNS() {
    runner->run("sudo systemctl restart avahi-daemon > /dev/null");
    LOGI(MDNS_TAG, "Avahi daemon restarted\n");
}

void Wifi::tasks() {
    mirrorLinkState();
    serverStep(esp_timer_get_time());
}

void Wifi::mirrorLinkState() {
    static const char* const TEXTS[] = {"DISCONNECTED", "CONNECTING", "CONNECTED"};
    int state = linkState.load();
    const char* wanted = TEXTS[state >= DISCONNECTED && state <= CONNECTED ? state : DISCONNECTED];
    if (stateNode->getValue() != wanted) stateNode->setValue(wanted);
}

// ---- connection thread ----

void Wifi::connectionsHandler(Wifi* wifi) {
    for (;;) {
        wifi->connectionPass(esp_timer_get_time());
        vTaskDelay(HANDLER_PERIOD_US);
    }
}

void Wifi::connectionPass(int64_t now) {
    // Copies taken under each node's lock; the UI and the request processor change them on other threads.
    std::string ssid = ssidNode->getValue();
    std::string password = passwordNode->getValue();
    bool launch;
    {
        std::lock_guard<std::mutex> lock(settingsLock);
        bool changed = ssid != cachedSsid || password != cachedPassword;
        // Without a network name there is nothing to retry: the command would only disconnect again.
        bool retry = linkState.load() == DISCONNECTED && !ssid.empty() && now - lastLaunch > RECONNECT_US;
        launch = changed || !launched || retry;
        if (launch) {
            cachedSsid = ssid;
            cachedPassword = password;
        }
    }
    if (launch) {
        linkState = CONNECTING;
        launchConnectCommand(this);
        lastLaunch = now;
        launched = true;
    }
    if (!polled || now - lastPoll > POLL_US) {
        getConnectionState(this);
        lastPoll = now;
        polled = true;
    }
}

void Wifi::launchConnectCommand(Wifi* wifi) {
    std::string ssid, password;
    {
        std::lock_guard<std::mutex> lock(wifi->settingsLock);
        ssid = wifi->cachedSsid;
        password = wifi->cachedPassword;
    }
    // A shell command cannot carry a NUL byte: the text would end early and nmcli would get other arguments.
    if (ssid.find('\0') != std::string::npos || password.find('\0') != std::string::npos) {
        LOGE(WIFI_TAG, "Network name or password holds a NUL byte, not connecting\n");
        return;
    }
    std::string quotedSsid = escape_sh(ssid);
    wifi->runner->run("{ sudo nmcli device disconnect wlan0; sudo nmcli connection delete '" + quotedSsid +
                      "'; sudo nmcli --wait 10 device wifi connect '" + quotedSsid + "' password '" +
                      escape_sh(password) + "' ifname wlan0; } > /dev/null 2>&1");
}

void Wifi::getConnectionState(Wifi* wifi) {
    int rc = wifi->runner->run("sudo nmcli -g DEVICE,STATE device | grep '^wlan0:connected' > /dev/null 2>&1");
    if (rc == 0 && wifi->linkState.load() != CONNECTED) wifi->restartMDNS();
    wifi->linkState = rc == 0 ? CONNECTED : DISCONNECTED;
}

// ---- TCP server ----

int Wifi::listeningPort() const {
    if (listenFd < 0 || serverState != SERVE) return 0;
    sockaddr_storage address{};
    socklen_t length = sizeof(address);
    if (getsockname(listenFd, reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
    if (address.ss_family == AF_INET6) return ntohs(reinterpret_cast<sockaddr_in6*>(&address)->sin6_port);
    return ntohs(reinterpret_cast<sockaddr_in*>(&address)->sin_port);
}

int Wifi::clientCount() const {
    int count = 0;
    for (const Client& client : clients)
        if (client.fd >= 0) ++count;
    return count;
}

void Wifi::serverFailure(int64_t now, const char* format, int error) {
    if (!serverFailing || now - lastFailureLog >= FAILURE_LOG_INTERVAL_US) {
        std::printf(format, WIFI_TAG, error);
        lastFailureLog = now;
    }
    serverFailing = true;
}

void Wifi::serverStep(int64_t now) {
    switch (serverState) {
    case CREATE:
        createStep(now);
        break;
    case CONFIGURE:
        configureStep(now);
        break;
    case SERVE:
        makeRoom(now);
        acceptStep(now);
        for (Client& client : clients) clientStep(client, now);
        takeGuess(now);
        break;
    default:
        closeAll();
        serverState = CREATE;
        break;
    }
}

void Wifi::retryLater(int64_t now) {
    retryAt = now + retryDelay;
    retryDelay = std::min(retryDelay * 2, BIND_RETRY_MAX_US);
    serverState = CLOSE_ALL;
}

void Wifi::createStep(int64_t now) {
    if (now < retryAt) return;
    ++attempts;
    serverAddress = bindAddress;
    uint16_t networkPort = htons(uint16_t(port));
    if (serverAddress.ss_family == AF_INET6) reinterpret_cast<sockaddr_in6*>(&serverAddress)->sin6_port = networkPort;
    else reinterpret_cast<sockaddr_in*>(&serverAddress)->sin_port = networkPort;
    listenFd = socket(serverAddress.ss_family, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    for (Client& client : clients) closeClient(client);
    if (listenFd < 0) {
        serverFailure(now, "ERROR (%s): Unable to create listen socket: errno %d\n", errno);
        retryLater(now);
        return;
    }
    if (!serverFailing) LOGI(WIFI_TAG, "Listen socket created\n");
    serverState = CONFIGURE;
}

void Wifi::configureStep(int64_t now) {
    int on = 1;
    setsockopt(listenFd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
    int flags = fcntl(listenFd, F_GETFL, 0);
    if (flags < 0 || fcntl(listenFd, F_SETFL, flags | O_NONBLOCK) < 0)
        LOGE(WIFI_TAG, "Can not set server not blocking %d\n", errno);
    if (bind(listenFd, reinterpret_cast<sockaddr*>(&serverAddress), addressLength(serverAddress)) != 0) {
        serverFailure(now, "ERROR (%s): Listen socket unable to bind: errno %d\n", errno);
        retryLater(now);
        return;
    }
    if (listen(listenFd, 1) != 0) {
        serverFailure(now, "ERROR (%s): Error occurred during listen: errno %d\n", errno);
        retryLater(now);
        return;
    }
    if (serverFailing) LOGI(WIFI_TAG, "Listen socket created\n");
    serverFailing = false;
    retryDelay = BIND_RETRY_FIRST_US;
    serverState = SERVE;
}

void Wifi::acceptStep(int64_t now) {
    Client* free = nullptr;
    for (Client& client : clients) {
        if (client.fd < 0) {
            free = &client;
            break;
        }
    }
    if (!free) return;
    socklen_t length = sizeof(clientAddress);
    int fd = accept4(listenFd, reinterpret_cast<sockaddr*>(&clientAddress), &length, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
        int error = errno;
        if (error == EAGAIN || error == EWOULDBLOCK) return;
        if (transientAcceptError(error)) {
            serverFailure(now, "ERROR (%s): Error when accepting connection: errno %d\n", error);
            return;
        }
        LOGE(WIFI_TAG, "Error when accepting connection\n");
        serverState = CLOSE_ALL;
        return;
    }
    free->fd = fd;
    free->time = now;
    free->accepted = now;
    free->lastWork = now;
    free->guessWaiting = false;
    free->count = 0;
    free->discarding = false;
    free->peerClosed = false;
    free->replying = false;
    free->reply.clear();
    free->sent = 0;
    free->session = RemoteSession{};
}

void Wifi::makeRoom(int64_t now) {
    if (clientCount() < MAX_CLIENTS) return;
    pollfd entry{listenFd, POLLIN, 0};
    if (poll(&entry, 1, 0) != 1 || !(entry.revents & POLLIN)) return;
    Client* victim = nullptr;
    auto rank = [&](const Client& client) {
        // Guessing connections go first, then the one quiet longest.
        const bool guessing = !client.session.trusted && client.session.wrongAnswers > 0;
        const bool quiet = !client.replying && !client.guessWaiting && now - client.lastWork >= SLOT_QUIET_US;
        return guessing ? 2 : quiet ? 1 : 0;
    };
    for (Client& client : clients) {
        const int candidate = rank(client);
        if (candidate == 0) continue;
        const int best = victim ? rank(*victim) : 0;
        if (candidate > best || (candidate == best && client.lastWork < victim->lastWork)) victim = &client;
    }
    if (victim) closeClient(*victim);
}

bool Wifi::guessWaits(const Client& client) const {
    if (client.replying || client.session.trusted || client.session.token.empty() || !Security::hasPassword())
        return false;
    const char* buffer = client.buffer.data();
    const void* end = std::memchr(buffer, 0, size_t(client.count));
    return end && carriesAnswer(buffer, size_t(static_cast<const char*>(end) - buffer));
}

void Wifi::takeGuess(int64_t now) {
    if (answersHeld(now)) return;
    Client* first = nullptr;
    for (Client& client : clients) {
        if (client.fd < 0 || !client.guessWaiting) continue;
        // A guesser's connections are either worn (wrong answers) or newer than an honest client's that came
        // while it guessed: neither goes before it.
        if (!first || std::make_pair(client.session.wrongAnswers, client.accepted) <
                          std::make_pair(first->session.wrongAnswers, first->accepted))
            first = &client;
    }
    if (!first) return;
    first->guessWaiting = false;
    takeRequest(*first, now);
    sendReply(*first, now);
}

void Wifi::clientStep(Client& client, int64_t now) {
    if (client.fd < 0) return;
    receive(client);
    if (client.fd < 0) return;
    if (!client.replying) {
        // Guesses of connections that have not answered right wait for the shared back-off and their turn
        // (takeGuess); a connection's other requests, and all of one that answered right, go at once unless
        // its own back-off holds them.
        client.guessWaiting = guessWaits(client);
        if (!client.guessWaiting && !client.session.backoff.held(now)) takeRequest(client, now);
    }
    if (client.replying) sendReply(client, now);
    if (client.fd < 0) return;
    // A peer that closed its side is released once everything it asked for has been answered.
    bool waiting = client.replying || std::memchr(client.buffer.data(), 0, size_t(client.count)) != nullptr;
    if (client.peerClosed && !waiting) {
        closeClient(client);
        return;
    }
    if (now - client.time > CLIENT_IDLE_US && !client.guessWaiting) closeClient(client);
}

void Wifi::receive(Client& client) {
    if (client.peerClosed) return;
    char* buffer = client.buffer.data();
    if (client.count == RECEIVE_CAPACITY) {
        // Requests still waiting are kept; a full buffer without any NUL is one oversized request.
        if (std::memchr(buffer, 0, size_t(client.count))) return;
        if (uint32_t dropped = 0; overlongLog.due(dropped))
            LOGW(WIFI_TAG, "Request longer than %d bytes dropped (%u since the last line)\n", RECEIVE_CAPACITY - 1,
                 unsigned(dropped));
        client.count = 0;
        client.discarding = true;
    }
    // A request being dropped is read to its end, or as far as it has come, in one pass: the next request
    // must not wait behind a pass per buffer of it.
    for (int reads = 0; reads < DISCARD_READS_PER_PASS; ++reads) {
        ssize_t count = recv(client.fd, buffer + client.count, size_t(RECEIVE_CAPACITY - client.count), MSG_DONTWAIT);
        if (count < 0) {
            if (!tryAgain(errno)) closeClient(client);
            return;
        }
        if (count == 0) {
            client.peerClosed = true;
            return;
        }
        if (!client.discarding) {
            client.count += int(count);
            return;
        }
        char* start = buffer + client.count;
        char* end = static_cast<char*>(std::memchr(start, 0, size_t(count)));
        if (!end) continue;
        size_t rest = size_t(start + count - (end + 1));
        std::memmove(start, end + 1, rest);
        client.count += int(rest);
        client.discarding = false;
        return;
    }
}

void Wifi::takeRequest(Client& client, int64_t now) {
    char* buffer = client.buffer.data();
    char* end = static_cast<char*>(std::memchr(buffer, 0, size_t(client.count)));
    if (!end) return;
    client.time = now;
    std::string request(buffer, end);
    const bool guess = guessWaits(client);
    // Requests pipelined behind this one are served on the following passes.
    int consumed = int(end - buffer) + 1;
    std::memmove(buffer, end + 1, size_t(client.count - consumed));
    client.count -= consumed;
    const bool empty = request.empty();
    client.reply = processRequest(std::move(request), now, client.session);
    if (!empty && (!guess || client.session.trusted)) client.lastWork = now;
    client.sent = 0;
    client.replying = true;
}

void Wifi::sendReply(Client& client, int64_t now) {
    // The reply goes out with its terminating NUL, which c_str() provides. A client that reads slowly gets it
    // over several passes; nothing waits for it.
    size_t total = client.reply.size() + 1;
    ssize_t count =
        send(client.fd, client.reply.c_str() + client.sent, total - client.sent, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (count < 0) {
        if (!tryAgain(errno)) closeClient(client);
        return;
    }
    if (count > 0) client.time = now;
    client.sent += size_t(count);
    if (client.sent >= total) {
        client.replying = false;
        client.reply.clear();
        client.reply.shrink_to_fit();
        client.sent = 0;
    }
}

void Wifi::closeClient(Client& client) {
    // The copy of a slot and an upload can be a megabyte each; they go with their client.
    client.session = RemoteSession{};
    if (client.fd >= 0) close(client.fd);
    client.fd = -1;
    client.time = 0;
    client.guessWaiting = false;
    client.count = 0;
    client.discarding = false;
    client.peerClosed = false;
    client.replying = false;
    client.reply.clear();
    client.sent = 0;
}

void Wifi::closeAll() {
    if (listenFd >= 0) close(listenFd);
    listenFd = -1;
    for (Client& client : clients) closeClient(client);
}
