#pragma once
// Remote-control password and challenge tokens.
//
// A transport hands a client a fresh token; the client answers with the keyed hash of the password followed
// by the token. The keyed hash is SipHash-2-4 under the product key below, over the password's bytes
// followed by the token's; the answer is the 8 result bytes in order as 16 upper-case hexadecimal digits.
// Only the password the user set is accepted: no built-in password opens a device that has one.
#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

class NodePassword;

class Security {
public:
    static constexpr size_t KEY_SIZE = 16;
    static constexpr size_t HASH_SIZE = 8;
    using Key = std::array<uint8_t, KEY_SIZE>;
    using Hash = std::array<uint8_t, HASH_SIZE>;
    // Compiled into every device and published for client authors: it binds answers to this product, it is
    // not a secret.
    static const Key productKey;

    // Takes the password item ("pwd" under the "sys" node); null logs an error and leaves it uninitialised.
    static void initialize(NodePassword* passwordItem);
    // True when initialised and the password item is not empty or is damaged (its stored value unreadable).
    static bool hasPassword();
    // A fresh challenge: 8 random bytes printed "%02X" each.
    static std::string generateToken();
    // False while the password item is damaged; true when uninitialised or no password is set; otherwise true
    // only when answer is the keyed hash of the password followed by token. The comparison takes the same time wherever the answer differs.
    static bool checkToken(const std::string& token, const std::string& answer);

    // SipHash-2-4 of message under key.
    static Hash keyedHash(const Key& key, std::string_view message);
    // The answer a client sends for this password and token.
    static std::string answerFor(const std::string& password, const std::string& token);

private:
    static std::atomic<NodePassword*> password;
};
