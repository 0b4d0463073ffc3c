#include "remote/ComInterface.h"

#include "porting/Log.h"
#include "core/Node.h"
#include "core/NodeList.h"
#include "remote/RemoteServices.h"
#include "core/Security.h"
#include "porting/Shims.h"

#include <algorithm>
#include <cstring>

namespace {
const char* const TAG = "Com";
const std::string SEPARATOR = "\r\n";
const int64_t REFUSAL_LOG_INTERVAL_US = 10000000;
// What a line that changes state adds to the reply beyond its own length (the list status, a byte count).
const size_t PIECE_MARGIN = 256;

// Matches a command word with its trailing blank at the start of the line and gives the argument after it.
bool command(const std::string& line, const char* word, std::string& argument) {
    size_t length = std::strlen(word);
    if (line.compare(0, length, word) != 0) return false;
    argument = line.substr(length);
    return true;
}

// The lines whose effect cannot be undone; they run only when their piece is sure to fit in the reply.
bool changesState(const std::string& line) {
    for (const char* word : {"write ", "dwrite ", "dswap ", "supd ", "upd "}) {
        if (line.compare(0, std::strlen(word), word) == 0) return true;
    }
    return false;
}
}

ComInterface::ComInterface(Node* root) : root(root) { transports().push_back(this); }

ComInterface::~ComInterface() {
    transports().remove(this);
    if (RemoteServices::firmwareOwner() == this) RemoteServices::setFirmwareOwner(nullptr);
}

std::list<ComInterface*>& ComInterface::transports() {
    static auto* const list = new std::list<ComInterface*>;
    return *list;
}

std::string ComInterface::processRequest(std::string request) {
    return processRequest(std::move(request), esp_timer_get_time());
}

std::string ComInterface::processRequest(std::string request, int64_t now) {
    return processRequest(std::move(request), now, session);
}

std::string ComInterface::processRequest(std::string request, int64_t now, RemoteSession& client) {
    if (!root) return "";
    RequestRun run{client, Security::hasPassword()};
    bool tokenLinePending = run.refused;
    if (request.empty()) return SEPARATOR;

    std::string reply;
    size_t header = 0;
    size_t position = 0;
    while (position < request.size()) {
        size_t end = request.find(SEPARATOR, position);
        if (end == std::string::npos) end = request.size();
        std::string line = request.substr(position, end - position);
        position = end == request.size() ? end : end + SEPARATOR.size();

        if (tokenLinePending) {
            std::string answer;
            // Before the first token is issued here, the answer would be one for the empty token: the same on
            // every start, so a recorded one could be replayed.
            if (command(line, "token ", answer)) {
                run.refused = client.token.empty() || !Security::checkToken(client.token, answer);
                // Only what could have been right is a guess: "token -", which clients send to fetch a
                // token, is not; nor is an answer from a client that has no token here yet (one that
                // reconnected and answers the token of its closed connection).
                if (!client.token.empty() && answer.size() == 2 * Security::HASH_SIZE)
                    answerChecked(client, !run.refused, now);
            }
            // Every request rotates the token, accepted or not, so an answer is good for one request only.
            client.token = Security::generateToken();
            reply += "token " + client.token + (run.refused ? " n" : " y") + SEPARATOR;
            tokenLinePending = false;
            header = reply.size();
        }
        bool first = reply.size() == header;
        if (!first && changesState(line) && reply.size() + line.size() + PIECE_MARGIN > replyBudget) break;
        size_t before = reply.size();
        int64_t access = lastAccess;
        runCommand(line, run, reply);
        if (run.stopped) break;
        if (!first && reply.size() > replyBudget) {
            // Only a line that changes nothing gets here: it is undone as if it had not run.
            reply.resize(before);
            lastAccess = access;
            break;
        }
    }
    return reply.empty() ? SEPARATOR : reply;
}

void ComInterface::answerChecked(RemoteSession& client, bool right, int64_t now) {
    if (right) {
        client.refusals = 0;
        client.heldUntil = 0;
        return;
    }
    int64_t delay = FIRST_ANSWER_DELAY_US;
    for (int i = 0; i < client.refusals && delay < MAX_ANSWER_DELAY_US; ++i) delay *= 2;
    ++client.refusals;
    client.heldUntil = now + std::min(delay, MAX_ANSWER_DELAY_US);
    ++unloggedRefusals;
    if (lastRefusalLog == 0 || now - lastRefusalLog >= REFUSAL_LOG_INTERVAL_US) {
        LOGW(TAG, "%s: %d wrong password answer(s) since the last report\n", transportName(), unloggedRefusals);
        unloggedRefusals = 0;
        lastRefusalLog = now;
    }
}

void ComInterface::runCommand(const std::string& line, RequestRun& run, std::string& reply) {
    const bool refused = run.refused;
    std::string argument;
    if (command(line, "browse ", argument)) {
        browse(argument, reply);
    } else if (command(line, "dwrite ", argument)) {
        if (!refused) listCommand("dwrite ", argument, line, run, reply);
    } else if (command(line, "dswap ", argument)) {
        if (!refused) listCommand("dswap ", argument, line, run, reply);
    } else if (command(line, "dread ", argument)) {
        if (!refused) listCommand("dread ", argument, line, run, reply);
    } else if (command(line, "read ", argument)) {
        readChanges(argument, reply);
    } else if (command(line, "write ", argument)) {
        if (refused) return;
        // The argument is echoed whatever the outcome: clients read back the value they sent.
        root->parseJSON(argument);
        reply += argument + SEPARATOR;
    } else if (command(line, "supd ", argument)) {
        if (!refused) firmwareStart(argument, reply);
    } else if (command(line, "upd ", argument)) {
        if (!refused) firmwareData(argument, reply);
    }
}

void ComInterface::browse(const std::string& path, std::string& reply) {
    Node* node = root->pathToNode(path);
    if (!node) return;
    // Stamped before the walk: a change made while the walk runs is reported by the next "read".
    int64_t now = esp_timer_get_time();
    reply += node->getJSON(DESC_FULL, true);
    lastAccess = now;
}

void ComInterface::readChanges(const std::string& path, std::string& reply) {
    Node* node = root->pathToNode(path);
    if (!node) return;
    int64_t now = esp_timer_get_time();
    reply += node->getJSON_after(DESC_STYLE, true, nullptr, true, long(lastAccess), true);
    lastAccess = now;
}

void ComInterface::listCommand(const std::string& word, const std::string& argument, const std::string& line,
                               RequestRun& run, std::string& reply) {
    size_t colon = argument.find(':');
    if (colon == std::string::npos) return;
    Node* node = root->pathToNode(argument.substr(0, colon));
    if (!node || std::strcmp(node->getType(), "list") != 0) return;
    auto* list = dynamic_cast<NodeList*>(node);
    if (!list) return;
    if (word == "dwrite ") {
        // The outcome shows in the status: the chunk taken, or -1,-1 when the upload was refused.
        list->parseWriteJSON(argument);
        reply += "dwrite " + list->writeStatusJSON();
    } else if (word == "dswap ") {
        if (list->parseSwapJSON(argument)) reply += line;
    } else {
        bool copied = false;
        std::optional<std::string> piece = list->parseReadJSON(argument, run.client.readCopy, !run.copyTaken, copied);
        if (!piece) {
            run.stopped = true;
            return;
        }
        run.copyTaken = run.copyTaken || copied;
        reply += *piece;
    }
}

void ComInterface::firmwareStart(const std::string& size, std::string& reply) {
    const RemoteServices::Firmware& firmware = RemoteServices::firmware();
    if (!firmware.start) return;
    RemoteServices::setFirmwareOwner(this);
    reply += firmware.start(size);
}

void ComInterface::firmwareData(const std::string& hex, std::string& reply) {
    const RemoteServices::Firmware& firmware = RemoteServices::firmware();
    if (!firmware.data) return;
    // The transfer belongs to the transport that started it; data from another would corrupt the image.
    ComInterface* owner = RemoteServices::firmwareOwner();
    if (owner && owner != this) {
        reply += "0";
        return;
    }
    reply += firmware.data(hex);
}
