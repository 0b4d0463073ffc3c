#pragma once
#include "remote/ComInterface.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <vector>

class CommandRunner;
class NodeItem;

// Remote control over TCP, and the device's place on the Wi-Fi network.
//  - initialize() (once, on "comTasks"): writes the mDNS service file, restarts the mDNS daemon, starts the
//    "wifiConnectionsHandler" thread.
//  - tasks() (every "comTasks" pass): mirrors the link state into the "state" node and runs one step of the
//    TCP server: up to three clients, NUL-terminated requests and replies, nothing ever blocks the pass.
//  - connectionsHandler (its own thread): connects with nmcli when the network settings change or while
//    disconnected, and polls the link state.
// Steps that depend on time take "now" (microseconds) as an argument, so the 5, 10 and 30 s rules can be
// driven directly. Each TCP connection is a session of its own (token, password back-off once it answered
// right, upload, download copy); the connections share the transport's last-access time for "read" and the
// back-off of the guesses of connections that have not answered right. Those guesses are checked one at a
// time as that back-off allows, the connection with the fewest wrong answers (then the oldest) first, so
// that a right answer is not starved by a guesser's other connections.
//
// Connection slots serve clients that talk: when all are taken and a new connection waits, the slot of a
// connection that has answered wrong and never right, or else the one that has sent no request but empty
// ones for SLOT_QUIET_US (the longest such), is closed for it.
//
// Like every transport it lives for the whole run: once initialize() has started the connection thread, that
// thread uses the object until the process ends.
//
// On the host the server binds 127.0.0.1 unless PEDAL_TCP_ADDRESS names another IPv4 or IPv6 address, the
// port may be overridden with PEDAL_TCP_PORT, and the shell commands run through the project's stand-ins.
class Wifi : public ComInterface {
public:
    static constexpr int MAX_CLIENTS = 3;
    static constexpr int RECEIVE_BUFFER_SIZE = 65536;
    static constexpr int64_t CLIENT_IDLE_US = 5000000;
    static constexpr int64_t SLOT_QUIET_US = 2000000;
    static constexpr int64_t RECONNECT_US = 30000000;
    static constexpr int64_t POLL_US = 10000000;
    static constexpr uint32_t HANDLER_PERIOD_US = 5000000;
    // A socket that cannot be bound or listen is made again after this delay, doubled with each failure in
    // a row up to the cap.
    static constexpr int64_t BIND_RETRY_FIRST_US = 100000;
    static constexpr int64_t BIND_RETRY_MAX_US = 5000000;

    enum LinkState { DISCONNECTED = 0, CONNECTING = 1, CONNECTED = 2 };
    enum ServerState { CREATE = 0, CONFIGURE = 1, SERVE = 2, CLOSE_ALL = 3 };

    // Creates "wifi" with "ssid", "password" (secret; both stored) and "state" under the system node.
    // A null name node reads as "".
    Wifi(Node* root, Node* nameNode, int port);
    ~Wifi() override;

    void initialize() override;
    void tasks() override;
    // The clients' replies go on while password answers are held back; no request is taken.
    void heldTasks() override { tasks(); }
    const char* transportName() const override { return "tcp"; }

    // The parts of tasks(), for callers that drive time themselves.
    void mirrorLinkState();
    void serverStep(int64_t now);
    // One pass of the connection thread.
    void connectionPass(int64_t now);
    // Body of the "wifiConnectionsHandler" thread: a pass every 5 s, forever.
    static void connectionsHandler(Wifi* wifi);
    static void launchConnectCommand(Wifi* wifi);
    static void getConnectionState(Wifi* wifi);
    // Writes the mDNS service file; false when the command failed.
    bool writeServiceFile();
    void restartMDNS();

    int getLinkState() const { return linkState.load(); }
    int getServerState() const { return serverState; }
    // The port the server listens on (the kernel's choice when configured with 0); 0 when not listening.
    int listeningPort() const;
    int clientCount() const;
    // Sockets made for listening so far, successful or not.
    int listenAttempts() const { return attempts; }
    NodeItem* getSsidNode() const { return ssidNode; }
    NodeItem* getPasswordNode() const { return passwordNode; }
    NodeItem* getStateNode() const { return stateNode; }
    // The text that tells this device apart in its mDNS service name.
    static std::string deviceIdentifier();

private:
    struct Client {
        int fd = -1;
        // Accept time, or the time of the last complete request or of the last reply bytes sent.
        int64_t time = 0;
        int64_t accepted = 0;
        // Accept time, or the time of the last request that asked for something: not an empty one, not a
        // wrong answer.
        int64_t lastWork = 0;
        // Its next request is a password answer waiting for its turn.
        bool guessWaiting = false;
        int count = 0;
        bool discarding = false;
        bool peerClosed = false;
        bool replying = false;
        std::string reply;
        size_t sent = 0;
        std::vector<char> buffer;
        RemoteSession session;
    };

    void createStep(int64_t now);
    void configureStep(int64_t now);
    void acceptStep(int64_t now);
    // Closes a slot for a waiting connection when one serves no talking client.
    void makeRoom(int64_t now);
    void clientStep(Client& client, int64_t now);
    bool guessWaits(const Client& client) const;
    // Checks the waiting guess that comes first, when the shared back-off allows.
    void takeGuess(int64_t now);
    void receive(Client& client);
    void takeRequest(Client& client, int64_t now);
    void sendReply(Client& client, int64_t now);
    void closeClient(Client& client);
    void closeAll();
    void serverFailure(int64_t now, const char* format, int error);
    void retryLater(int64_t now);
    std::string nameText() const;

    std::shared_ptr<CommandRunner> runner;
    std::mutex settingsLock;
    std::string cachedSsid, cachedPassword; // guarded by settingsLock
    std::atomic<int> linkState{DISCONNECTED};
    int64_t lastLaunch = 0;
    int64_t lastPoll = 0;
    bool launched = false;
    bool polled = false;
    sockaddr_storage serverAddress{};
    sockaddr_storage clientAddress{};
    Node* nameNode;
    NodeItem* folderNode = nullptr;
    NodeItem* ssidNode = nullptr;
    NodeItem* passwordNode = nullptr;
    NodeItem* stateNode = nullptr;
    int port;
    sockaddr_storage bindAddress;
    int listenFd = -1;
    Client clients[MAX_CLIENTS];
    int serverState = CREATE;
    // A busy port or a failing accept would log every 10 ms; failures are logged at most every 10 s.
    bool serverFailing = false;
    int64_t lastFailureLog = 0;
    int attempts = 0;
    int64_t retryAt = 0;
    int64_t retryDelay = BIND_RETRY_FIRST_US;
};
