#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// One slot of a NodeList as a reader sees it: a consistent copy of the name, the data buffer and the version
// taken at one moment. The buffer is immutable: a commit publishes a new one and never writes into a buffer
// that a reader may hold.
struct NodeListElement {
    using Data = std::shared_ptr<const std::vector<uint8_t>>;

    std::string name; // "" for an empty slot
    Data data;        // never null; empty for no data
    uint32_t version = 0;
};
