#pragma once
#include "remote/RemoteSession.h"

#include <cstdint>
#include <list>
#include <string>

class Node;

// Base of every remote-control transport. Each transport keeps its own protocol state, so a token issued on
// one transport is not valid on another, and "read" reports changes since this transport's last look. The
// per-client part of it (token, back-off, upload, download copy) is a RemoteSession: the transport's own, or one per
// connection where a transport serves several clients at once.
// Only the "comTasks" thread calls initialize(), tasks() and processRequest().
class ComInterface {
public:
    // Joins the transports (after those that exist); the destructor leaves them.
    explicit ComInterface(Node* root);
    virtual ~ComInterface();
    // The transports that exist, in construction order: Com's list, kept here so that a transport joins and
    // leaves it by itself. Never destroyed: the "comTasks" thread may still walk it while the process exits.
    static std::list<ComInterface*>& transports();
    ComInterface(const ComInterface&) = delete;
    ComInterface& operator=(const ComInterface&) = delete;

    // Most bytes of one reply: lines stop running once the next one would carry the reply past it (so the
    // reply ends after the last whole line that fits), whatever a client sends. Only a request's first piece
    // may be larger (a "browse" of a big subtree): its size is the tree's, not the client's choice.
    static constexpr size_t REPLY_BUDGET = 262144;
    // Storage work one request may do (swaps, slot commits, preset saves, firmware image steps; value writes
    // are not counted): once a request has spent this time or written this many bytes on it, its lines that
    // change stored data stop running, as at the reply budget. Every transport's requests take turns on one
    // thread, so this bounds how long one request holds every other client.
    static constexpr int64_t WORK_BUDGET_US = 100000;
    static constexpr uint64_t WORK_BUDGET_BYTES = 4u << 20;
    // After a refused password answer, answers are checked no earlier than this delay after the refusal: the
    // first delay, doubled with each refusal in a row up to the cap. The clients that have not answered right
    // share one such back-off per transport, however many connections they use; a right answer lowers its
    // count by one and a quiet minute ends it. A client that answered right has a back-off of its own, which a right
    // answer resets.
    static constexpr int64_t FIRST_ANSWER_DELAY_US = 250000;
    static constexpr int64_t MAX_ANSWER_DELAY_US = 2000000;
    static constexpr int64_t QUIET_GUESSING_US = 60000000;

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
    // The same for one of several clients of this transport, with its own session.
    std::string processRequest(std::string request, int64_t now, RemoteSession& client);

    // True while this transport's own session must not take a request: a password answer was refused less
    // than the back-off delay ago. Other transports are not affected.
    bool answersHeld(int64_t now) const { return answersHeld(session, now); }
    // The same for one client: held by its own back-off once it answered right, by the shared one before.
    bool answersHeld(const RemoteSession& client, int64_t now) const {
        return (client.trusted ? client.backoff : guesses).held(now);
    }
    // True when the request (the text before its NUL) answers a token in a way that could be right: it is
    // checked against the password and counts as a guess when wrong.
    static bool carriesAnswer(const char* request, size_t length);

    // The challenge token last issued in the transport's own session ("" before the first).
    const std::string& currentToken() const { return session.token; }
    // Time of the last "browse" or "read" that found its node; 0 before the first.
    int64_t lastAccessTime() const { return lastAccess; }

protected:
    Node* root;
    RemoteSession session;
    int64_t lastAccess = 0;
    // REPLY_BUDGET on every transport; a fuzzing harness lowers it so that reaching it stays cheap.
    size_t replyBudget = REPLY_BUDGET;

private:
    // One request's run: whose it is, and the work it may still do beyond its reply budget.
    struct RequestRun {
        RemoteSession& client;
        bool refused;
        // A request compresses at most one slot copy: the work of a request is bounded in data, not only in
        // reply bytes, so that one client cannot stall every transport.
        bool copyTaken = false;
        // Set by a line that is not run for that bound; the request ends before it.
        bool stopped = false;
        // Storage work done so far (see WORK_BUDGET_US).
        int64_t workUs = 0;
        uint64_t workBytes = 0;
        uint64_t imageBytes = 0; // bytes of firmware image the last line took
    };
    // A command word with its trailing blank, what runs it, whether it changes stored data and whether it
    // runs only for a client that answered its token (while a password is set).
    struct Command {
        const char* word;
        void (ComInterface::*run)(const std::string& argument, const std::string& line, RequestRun& run,
                                  std::string& reply);
        bool storing;
        bool guarded;
    };
    static const Command* findCommand(const std::string& line, std::string& argument);

    void answerChecked(RemoteSession& client, bool right, int64_t now);
    void runStoring(const Command& command, const std::string& argument, const std::string& line, RequestRun& run,
                    std::string& reply);
    void browse(const std::string& path, const std::string& line, RequestRun& run, std::string& reply);
    void readChanges(const std::string& path, const std::string& line, RequestRun& run, std::string& reply);
    void writeValue(const std::string& argument, const std::string& line, RequestRun& run, std::string& reply);
    void listCommand(const std::string& argument, const std::string& line, RequestRun& run, std::string& reply);
    void firmwareStart(const std::string& size, const std::string& line, RequestRun& run, std::string& reply);
    void firmwareData(const std::string& hex, const std::string& line, RequestRun& run, std::string& reply);

    // The back-off shared by the clients that have not answered right.
    AnswerBackoff guesses;
    int unloggedRefusals = 0;
    int64_t lastRefusalLog = 0;
};
