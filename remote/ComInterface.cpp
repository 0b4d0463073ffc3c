#include "ComInterface.h"

#include "Com.h"
#include "Node.h"
#include "NodeList.h"
#include "RemoteServices.h"
#include "Security.h"
#include "Shims.h"

#include <cstring>

namespace {
const std::string SEPARATOR = "\r\n";

// Matches a command word with its trailing blank at the start of the line and gives the argument after it.
bool command(const std::string& line, const char* word, std::string& argument) {
    size_t length = std::strlen(word);
    if (line.compare(0, length, word) != 0) return false;
    argument = line.substr(length);
    return true;
}
}

ComInterface::ComInterface(Node* root) : root(root) { Com::addIface(this); }

ComInterface::~ComInterface() {
    Com::removeIface(this);
    if (RemoteServices::firmwareOwner() == this) RemoteServices::setFirmwareOwner(nullptr);
}

std::string ComInterface::processRequest(std::string request) {
    if (!root) return "";
    bool refused = Security::hasPassword();
    bool tokenLinePending = refused;
    if (request.empty()) return SEPARATOR;

    std::string reply;
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
            if (command(line, "token ", answer)) refused = token.empty() || !Security::checkToken(token, answer);
            // Every request rotates the token, accepted or not, so an answer is good for one request only.
            token = Security::generateToken();
            reply += "token " + token + (refused ? " n" : " y") + SEPARATOR;
            tokenLinePending = false;
        }
        runCommand(line, refused, reply);
    }
    return reply.empty() ? SEPARATOR : reply;
}

void ComInterface::runCommand(const std::string& line, bool refused, std::string& reply) {
    std::string argument;
    if (command(line, "browse ", argument)) {
        browse(argument, reply);
    } else if (command(line, "dwrite ", argument)) {
        if (!refused) listCommand("dwrite ", argument, line, reply);
    } else if (command(line, "dswap ", argument)) {
        if (!refused) listCommand("dswap ", argument, line, reply);
    } else if (command(line, "dread ", argument)) {
        if (!refused) listCommand("dread ", argument, line, reply);
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
                               std::string& reply) {
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
        // Each transport downloads from its own copy of the slot.
        reply += list->parseReadJSON(argument, this);
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
