#pragma once
#include "core/NodeList.h"

#include <cstdint>
#include <string>

// The back-off of refused password answers: after a refusal, answers wait until heldUntil.
struct AnswerBackoff {
    int refusals = 0; // refused answers in a row
    int64_t heldUntil = 0;
    int64_t lastRefusal = 0;

    bool held(int64_t now) const { return now < heldUntil; }
};

// What the request processor remembers of one client: the token its next answer must match, whether it has
// answered right, the back-off of its own wrong answers, and its slot transfers (the upload it writes and
// the copy it downloads from). A transport with one peer at a time (serial, Bluetooth) has one; the TCP
// server has one per connection, so clients never answer each other's tokens, write into each other's
// uploads or download from each other's copies. Guesses of clients that have not answered right are held
// by the transport's back-off, shared by all of them (ComInterface).
struct RemoteSession {
    // The challenge token last issued to this client ("" before the first).
    std::string token;
    // Set by a right answer: from then on only this client's own wrong answers hold it.
    bool trusted = false;
    int wrongAnswers = 0; // before the first right answer
    AnswerBackoff backoff;
    NodeList::Upload upload;
    NodeList::ReadCopy readCopy;
};
