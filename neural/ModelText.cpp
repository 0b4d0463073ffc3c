#include "neural/ModelText.h"

#include <charconv>
#include <cstring>
#include <string>
#include <string_view>

namespace RuveroRidev {

namespace {

constexpr std::size_t notFound = std::string_view::npos;

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::size_t SkipSpace(std::string_view text, std::size_t at) {
    while (at < text.size() && IsSpace(text[at])) {
        ++at;
    }
    return at;
}

// The position of the '[' that opens the list of the top-level key "weights" from `from` onward (the scan
// steps over strings and counts brackets), or notFound.
std::size_t FindWeightsList(std::string_view text, std::size_t from) {
    int depth = from == 0 ? 0 : 1;
    for (std::size_t at = from; at < text.size(); ++at) {
        const char c = text[at];
        if (c == '"') {
            const std::size_t start = at + 1;
            for (++at; at < text.size() && text[at] != '"'; ++at) {
                at += text[at] == '\\' ? 1 : 0;
            }
            if (at >= text.size()) {
                return notFound;
            }
            if (depth == 1 && text.substr(start, at - start) == "weights") {
                const std::size_t colon = SkipSpace(text, at + 1);
                if (colon < text.size() && text[colon] == ':') {
                    const std::size_t list = SkipSpace(text, colon + 1);
                    return list < text.size() && text[list] == '[' ? list : notFound;
                }
            }
        } else if (c == '{' || c == '[') {
            ++depth;
        } else if (c == '}' || c == ']') {
            --depth;
        }
    }
    return notFound;
}

// The end of the JSON number that starts at `at` (-? int frac? exp?), or notFound.
std::size_t NumberEnd(std::string_view text, std::size_t at) {
    const auto digits = [&](std::size_t from) {
        std::size_t end = from;
        while (end < text.size() && IsDigit(text[end])) {
            ++end;
        }
        return end;
    };
    at += at < text.size() && text[at] == '-' ? 1 : 0;
    if (at >= text.size() || !IsDigit(text[at])) {
        return notFound;
    }
    at = text[at] == '0' ? at + 1 : digits(at);
    if (at < text.size() && text[at] == '.') {
        const std::size_t end = digits(at + 1);
        if (end == at + 1) {
            return notFound;
        }
        at = end;
    }
    if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
        ++at;
        at += at < text.size() && (text[at] == '+' || text[at] == '-') ? 1 : 0;
        const std::size_t end = digits(at);
        if (end == at) {
            return notFound;
        }
        at = end;
    }
    return at;
}

// Reads the numbers of the list opened at `open`; returns the position of its ']', or notFound when the list
// holds anything but numbers a double holds.
std::size_t ReadNumbers(std::string_view text, std::size_t open, nlohmann::json::array_t& numbers) {
    std::size_t at = SkipSpace(text, open + 1);
    if (at < text.size() && text[at] == ']') {
        return at;
    }
    while (at < text.size()) {
        const std::size_t end = NumberEnd(text, at);
        if (end == notFound) {
            return notFound;
        }
        double value = 0.0;
        if (std::from_chars(text.data() + at, text.data() + end, value).ec != std::errc()) {
            return notFound;
        }
        numbers.emplace_back(value);
        at = SkipSpace(text, end);
        if (at < text.size() && text[at] == ']') {
            return at;
        }
        if (at >= text.size() || text[at] != ',') {
            return notFound;
        }
        at = SkipSpace(text, at + 1);
    }
    return notFound;
}

} // namespace

nlohmann::json ModelText::Parse(const std::vector<std::uint8_t>& bytes) {
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    const auto whole = [&] { return nlohmann::json::parse(text.begin(), text.end(), nullptr, false); };
    const std::size_t open = FindWeightsList(text, 0);
    if (open == notFound) {
        return whole();
    }
    nlohmann::json::array_t numbers;
    numbers.reserve(text.size() / 8);
    const std::size_t close = ReadNumbers(text, open, numbers);
    if (close == notFound || FindWeightsList(text, close + 1) != notFound) {
        return whole();
    }
    std::string rest;
    rest.reserve(text.size() - (close - open));
    rest.append(text.substr(0, open + 1)).append(text.substr(close));
    nlohmann::json document = nlohmann::json::parse(rest, nullptr, false);
    if (!document.is_discarded() && document.is_object()) {
        document["weights"] = std::move(numbers);
    }
    return document;
}

} // namespace RuveroRidev
