#include "core/Security.h"

#include "porting/Log.h"
#include "core/NodePassword.h"

#include <cstdio>
#include <sodium.h>

namespace {
const char* const TAG = "Security";

static_assert(crypto_shorthash_KEYBYTES == Security::KEY_SIZE, "the keyed hash must be SipHash-2-4");
static_assert(crypto_shorthash_BYTES == Security::HASH_SIZE, "the keyed hash must be SipHash-2-4");

bool sodiumReady() {
    static const bool ready = sodium_init() >= 0;
    return ready;
}

std::string upperHex(const uint8_t* bytes, size_t count) {
    std::string text(count * 2, '0');
    static const char digits[] = "0123456789ABCDEF";
    for (size_t i = 0; i < count; ++i) {
        text[2 * i] = digits[bytes[i] >> 4];
        text[2 * i + 1] = digits[bytes[i] & 0x0F];
    }
    return text;
}
}

const Security::Key Security::productKey = {0xD0, 0x06, 0x8D, 0x37, 0xC7, 0xAA, 0x63, 0x04,
                                            0x1D, 0x41, 0x5C, 0x81, 0x40, 0x32, 0xB4, 0x22};

std::atomic<NodePassword*> Security::password{nullptr};

void Security::initialize(NodePassword* passwordItem) {
    if (!sodiumReady()) LOGE(TAG, "Cannot initialise the random source\n");
    if (!passwordItem) {
        LOGE(TAG, "No password item\n");
        return;
    }
    password.store(passwordItem);
}

bool Security::hasPassword() {
    NodePassword* item = password.load();
    return item && (item->isDamaged() || !item->getValue().empty());
}

std::string Security::generateToken() {
    sodiumReady();
    uint8_t bytes[8];
    randombytes_buf(bytes, sizeof(bytes));
    return upperHex(bytes, sizeof(bytes));
}

bool Security::checkToken(const std::string& token, const std::string& answer) {
    NodePassword* item = password.load();
    if (!item) return true;
    // A password that could not be read is unknown: no answer may open the pedal.
    if (item->isDamaged()) return false;
    std::string current = item->getValue();
    if (current.empty()) return true;
    std::string expected = answerFor(current, token);
    // The length of a valid answer is public; only its contents must not leak through timing.
    if (answer.size() != expected.size()) return false;
    return sodium_memcmp(answer.data(), expected.data(), expected.size()) == 0;
}

Security::Hash Security::keyedHash(const Key& key, std::string_view message) {
    Hash hash{};
    crypto_shorthash(hash.data(), reinterpret_cast<const unsigned char*>(message.data()), message.size(), key.data());
    return hash;
}

std::string Security::answerFor(const std::string& password, const std::string& token) {
    Hash hash = keyedHash(productKey, password + token);
    return upperHex(hash.data(), hash.size());
}
