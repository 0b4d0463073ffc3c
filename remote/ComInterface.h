#pragma once
#include <cstdint>
#include <string>

class Node;

// Base of every remote-control transport. Each transport keeps its own protocol state, so a token issued on
// one transport is not valid on another, and "read" reports changes since this transport's last look.
// Only the "comTasks" thread calls initialize(), tasks() and processRequest().
class ComInterface {
public:
    // Registers the transport with Com (after those that exist).
    explicit ComInterface(Node* root);
    virtual ~ComInterface();
    ComInterface(const ComInterface&) = delete;
    ComInterface& operator=(const ComInterface&) = delete;

    virtual void initialize() {}
    virtual void tasks() {}

    // Runs one request (the text before its NUL) and returns the reply without the NUL: "\r\n"-separated
    // command lines, the token check while a password is set, the replies of the commands appended without
    // separators, "\r\n" when nothing else was produced, "" when there is no tree.
    std::string processRequest(std::string request);

    // The challenge token last issued here ("" before the first).
    const std::string& currentToken() const { return token; }
    // Time of the last "browse" or "read" that found its node; 0 before the first.
    int64_t lastAccessTime() const { return lastAccess; }

protected:
    Node* root;
    std::string token;
    int64_t lastAccess = 0;

private:
    void runCommand(const std::string& line, bool refused, std::string& reply);
    void browse(const std::string& path, std::string& reply);
    void readChanges(const std::string& path, std::string& reply);
    void listCommand(const std::string& word, const std::string& argument, const std::string& line,
                     std::string& reply);
    void firmwareStart(const std::string& size, std::string& reply);
    void firmwareData(const std::string& hex, std::string& reply);
};
