#include "remote/ComInterface.h"

#include "porting/Log.h"
#include "core/Node.h"
#include "core/NodeList.h"
#include "core/SlotStore.h"
#include "remote/RemoteServices.h"
#include "core/Security.h"
#include "porting/Shims.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string_view>

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

int64_t steadyMicroseconds() {
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
}

// Every command. The lines that change stored data cannot be undone: they run only when their piece is sure
// to fit in the reply and the request's work budget is not spent.
const ComInterface::Command* ComInterface::findCommand(const std::string& line, std::string& argument) {
    static const Command commands[] = {
        {"browse ", &ComInterface::browse, false, false},    {"read ", &ComInterface::readChanges, false, false},
        {"dread ", &ComInterface::listCommand, false, true}, {"write ", &ComInterface::writeValue, true, true},
        {"dwrite ", &ComInterface::listCommand, true, true}, {"dswap ", &ComInterface::listCommand, true, true},
        {"supd ", &ComInterface::firmwareStart, true, true}, {"upd ", &ComInterface::firmwareData, true, true},
    };
    for (const Command& candidate : commands) {
        if (command(line, candidate.word, argument)) return &candidate;
    }
    return nullptr;
}

bool ComInterface::carriesAnswer(const char* request, size_t length) {
    const std::string_view text(request, length);
    const std::string_view word = "token ";
    if (text.substr(0, word.size()) != word) return false;
    const size_t end = std::min(text.find(SEPARATOR), text.size());
    return end - word.size() == 2 * Security::HASH_SIZE;
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
        std::string argument;
        const Command* found = findCommand(line, argument);
        if (!found) continue;
        if (found->storing) {
            // Only a line that did storage work spends the work budget, so the first such line always runs.
            if (run.workUs >= WORK_BUDGET_US || run.workBytes >= WORK_BUDGET_BYTES) break;
            if (!first && reply.size() + line.size() + PIECE_MARGIN > replyBudget) break;
            if (!run.refused) runStoring(*found, argument, line, run, reply);
            continue;
        }
        size_t before = reply.size();
        int64_t access = lastAccess;
        if (!found->guarded || !run.refused) (this->*found->run)(argument, line, run, reply);
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
        // Lowered, not ended: an honest client's right answer must not reset a busy guesser's back-off.
        if (!client.trusted) guesses.refusals = std::max(0, guesses.refusals - 1);
        client.trusted = true;
        client.backoff = AnswerBackoff{};
        return;
    }
    AnswerBackoff& backoff = client.trusted ? client.backoff : guesses;
    if (!client.trusted) ++client.wrongAnswers;
    if (now - backoff.lastRefusal >= QUIET_GUESSING_US) backoff.refusals = 0;
    int64_t delay = FIRST_ANSWER_DELAY_US;
    for (int i = 0; i < backoff.refusals && delay < MAX_ANSWER_DELAY_US; ++i) delay *= 2;
    ++backoff.refusals;
    backoff.lastRefusal = now;
    backoff.heldUntil = now + std::min(delay, MAX_ANSWER_DELAY_US);
    ++unloggedRefusals;
    if (lastRefusalLog == 0 || now - lastRefusalLog >= REFUSAL_LOG_INTERVAL_US) {
        LOGW(TAG, "%s: %d wrong password answer(s) since the last report\n", transportName(), unloggedRefusals);
        unloggedRefusals = 0;
        lastRefusalLog = now;
    }
}

void ComInterface::runStoring(const Command& found, const std::string& argument, const std::string& line,
                              RequestRun& run, std::string& reply) {
    const int64_t started = steadyMicroseconds();
    const uint64_t storedBefore = SlotStore::bytesStored();
    run.imageBytes = 0;
    (this->*found.run)(argument, line, run, reply);
    const uint64_t bytes = SlotStore::bytesStored() - storedBefore + run.imageBytes;
    // A value write costs nothing worth counting; one that saves a preset stores a slot and counts.
    if (found.run == &ComInterface::writeValue && bytes == 0) return;
    run.workUs += steadyMicroseconds() - started;
    run.workBytes += bytes;
}

void ComInterface::browse(const std::string& path, const std::string&, RequestRun&, std::string& reply) {
    Node* node = root->pathToNode(path);
    if (!node) return;
    // Stamped before the walk: a change made while the walk runs is reported by the next "read".
    int64_t now = esp_timer_get_time();
    reply += node->getJSON(DESC_FULL, true);
    lastAccess = now;
}

void ComInterface::readChanges(const std::string& path, const std::string&, RequestRun&, std::string& reply) {
    Node* node = root->pathToNode(path);
    if (!node) return;
    int64_t now = esp_timer_get_time();
    reply += node->getJSON_after(DESC_STYLE, true, nullptr, true, long(lastAccess), true);
    lastAccess = now;
}

void ComInterface::writeValue(const std::string& argument, const std::string&, RequestRun&, std::string& reply) {
    // The argument is echoed whatever the outcome: clients read back the value they sent.
    root->parseJSON(argument);
    reply += argument + SEPARATOR;
}

void ComInterface::listCommand(const std::string& argument, const std::string& line, RequestRun& run,
                               std::string& reply) {
    size_t colon = argument.find(':');
    if (colon == std::string::npos) return;
    Node* node = root->pathToNode(argument.substr(0, colon));
    if (!node || std::strcmp(node->getType(), "list") != 0) return;
    auto* list = dynamic_cast<NodeList*>(node);
    if (!list) return;
    if (line.rfind("dwrite ", 0) == 0) {
        // The outcome shows in the status: the chunk taken, or -1,-1 when the upload was refused.
        list->parseWriteJSON(argument, run.client.upload);
        reply += "dwrite " + list->writeStatusJSON(run.client.upload);
    } else if (line.rfind("dswap ", 0) == 0) {
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

void ComInterface::firmwareStart(const std::string& size, const std::string&, RequestRun&, std::string& reply) {
    const RemoteServices::Firmware& firmware = RemoteServices::firmware();
    if (!firmware.start) return;
    RemoteServices::setFirmwareOwner(this);
    reply += firmware.start(size);
}

void ComInterface::firmwareData(const std::string& hex, const std::string&, RequestRun& run, std::string& reply) {
    const RemoteServices::Firmware& firmware = RemoteServices::firmware();
    if (!firmware.data) return;
    // The transfer belongs to the transport that started it; data from another would corrupt the image.
    ComInterface* owner = RemoteServices::firmwareOwner();
    if (owner && owner != this) {
        reply += "0";
        return;
    }
    run.imageBytes = hex.size() / 2;
    reply += firmware.data(hex);
}
