#pragma once
#include "core/NodeList.h"

#include <cstdint>
#include <string>

// What the request processor remembers of one client: the token its next answer must match, the back-off
// of its wrong answers and the slot copy it downloads from. A transport with one peer at a time (serial,
// Bluetooth) has one; the TCP server has one per connection, so clients never answer each other's tokens,
// wait out each other's guesses or download from each other's copies.
struct RemoteSession {
    // The challenge token last issued to this client ("" before the first).
    std::string token;
    int refusals = 0; // refused answers in a row
    int64_t heldUntil = 0;
    NodeList::ReadCopy readCopy;

    // True while this client's next request must wait: an answer was refused less than the back-off delay ago.
    bool answersHeld(int64_t now) const { return now < heldUntil; }
};
