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

    // Most bytes of one reply: lines stop running once the next one would carry the reply past it (so the
    // reply ends after the last whole line that fits), whatever a client sends. Only a request's first piece
    // may be larger (a "browse" of a big subtree): its size is the tree's, not the client's choice.
    static constexpr size_t REPLY_BUDGET = 262144;
    // After a refused password answer, the transport takes its next request no earlier than this delay after
    // the refusal: the first delay, doubled with each refusal in a row up to the cap; a right answer resets it.
    static constexpr int64_t FIRST_ANSWER_DELAY_US = 250000;
    static constexpr int64_t MAX_ANSWER_DELAY_US = 2000000;

    virtual void initialize() {}
    virtual void tasks() {}
    // Com::pass runs this instead of tasks() while answersHeld(): the transport may move bytes but takes no
    // request. By default it does nothing, so the transport's requests simply wait.
    virtual void heldTasks() {}
    // Names the transport in log lines.
    virtual const char* transportName() const { return "remote"; }

    // Runs one request (the text before its NUL) and returns the reply without the NUL: "\r\n"-separated
    // command lines, the token check while a password is set, the replies of the commands appended without
    // separators, "\r\n" when nothing else was produced, "" when there is no tree.
    std::string processRequest(std::string request);
    // The same at a given time (the clock of answersHeld), for transports that drive time themselves.
    std::string processRequest(std::string request, int64_t now);

    // True while this transport must not take a request: a password answer was refused less than the
    // back-off delay ago. Other transports are not affected.
    bool answersHeld(int64_t now) const { return now < heldUntil; }

    // The challenge token last issued here ("" before the first).
    const std::string& currentToken() const { return token; }
    // Time of the last "browse" or "read" that found its node; 0 before the first.
    int64_t lastAccessTime() const { return lastAccess; }

protected:
    Node* root;
    std::string token;
    int64_t lastAccess = 0;
    // REPLY_BUDGET on every transport; a fuzzing harness lowers it so that reaching it stays cheap.
    size_t replyBudget = REPLY_BUDGET;

private:
    void answerChecked(bool right, int64_t now);
    void runCommand(const std::string& line, bool refused, std::string& reply);
    void browse(const std::string& path, std::string& reply);
    void readChanges(const std::string& path, std::string& reply);
    void listCommand(const std::string& word, const std::string& argument, const std::string& line,
                     std::string& reply);
    void firmwareStart(const std::string& size, std::string& reply);
    void firmwareData(const std::string& hex, std::string& reply);

    int refusals = 0;       // refused answers in a row
    int64_t heldUntil = 0;
    int unloggedRefusals = 0;
    int64_t lastRefusalLog = 0;
};
