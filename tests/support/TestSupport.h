#pragma once
// Helpers shared by the tests: hex text as the transfer commands carry it, gzip streams, whole files, the
// 128-byte name record that opens a slot upload, and a body run in a child process. Header only: a test links
// zlib only when it gzips.
#include <gtest/gtest.h>
#include <zlib.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <stdexcept>
#include <string>

namespace testsupport {

// Hex text of any byte container (std::string, std::vector<uint8_t>, std::array<uint8_t, N>), upper case as
// the pedal writes it unless `lower`.
template <class Bytes>
std::string hex(const Bytes& bytes, bool lower = false) {
    const char* digits = lower ? "0123456789abcdef" : "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (auto element : bytes) {
        const uint8_t byte = uint8_t(element);
        out += digits[byte >> 4];
        out += digits[byte & 15];
    }
    return out;
}

// The bytes of hex text (either case); a trailing odd digit is dropped.
template <class Bytes = std::string>
Bytes unhex(const std::string& text) {
    Bytes out;
    for (size_t k = 0; k + 1 < text.size(); k += 2)
        out.push_back(typename Bytes::value_type(std::stoi(text.substr(k, 2), nullptr, 16)));
    return out;
}

// A one-member gzip stream of data at the best compression.
template <class Bytes>
Bytes gzip(const Bytes& data) {
    z_stream stream{};
    if (deflateInit2(&stream, 9, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("deflateInit2");
    Bytes out(compressBound(uLong(data.size())) + 64, 0);
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<typename Bytes::value_type*>(data.data()));
    stream.avail_in = uInt(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = uInt(out.size());
    const int result = deflate(&stream, Z_FINISH);
    deflateEnd(&stream);
    if (result != Z_STREAM_END) throw std::runtime_error("deflate");
    out.resize(stream.total_out);
    return out;
}

// The data of a one-member gzip stream of at most 1 MiB; empty when the stream is not whole.
template <class Bytes>
Bytes gunzip(const Bytes& data) {
    z_stream stream{};
    if (inflateInit2(&stream, 31) != Z_OK) throw std::runtime_error("inflateInit2");
    Bytes out(1 << 20, 0);
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<typename Bytes::value_type*>(data.data()));
    stream.avail_in = uInt(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = uInt(out.size());
    const int result = inflate(&stream, Z_FINISH);
    inflateEnd(&stream);
    out.resize(result == Z_STREAM_END ? stream.total_out : 0);
    return out;
}

// The whole contents of a file; empty when it cannot be read.
template <class Bytes = std::string>
Bytes readFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// A new empty folder under /tmp named after `prefix`; the process aborts when none can be made.
inline std::string temporaryFolder(const std::string& prefix) {
    std::string pattern = "/tmp/" + prefix + "-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    return pattern;
}

// The pedal's home: the one the test main or the caller gave in PEDAL_HOME, else a new temporary folder.
inline std::string ensureHome(const std::string& prefix) {
    const char* home = std::getenv("PEDAL_HOME");
    if (home != nullptr && *home != 0) return home;
    const std::string folder = temporaryFolder(prefix);
    setenv("PEDAL_HOME", folder.c_str(), 1);
    return folder;
}

// The test's own home, which the test main gives every test in PEDAL_HOME.
inline std::string ownHome() { return std::getenv("PEDAL_HOME"); }

// The test's own home (PEDAL_HOME, which the test main gives every test) emptied again; its path.
inline std::string emptyHome() {
    const std::string home = std::getenv("PEDAL_HOME");
    std::filesystem::remove_all(home);
    std::filesystem::create_directories(home);
    return home;
}

// Replaces a file with data, making its folder first.
inline void writeFile(const std::string& path, const std::string& data) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << data;
}

// The name record that is chunk 0 of a slot upload and the head of a slot file: the name NUL-padded to 64
// bytes, the transferred and the stored length as 32-bit little-endian numbers, zeros to 128 bytes.
template <class Bytes = std::string>
Bytes slotRecord(const std::string& name, uint32_t transferred, uint32_t stored) {
    Bytes out(128, 0);
    std::copy(name.begin(), name.end(), out.begin());
    for (int k = 0; k < 4; ++k) {
        out[size_t(64 + k)] = typename Bytes::value_type((transferred >> (8 * k)) & 0xFF);
        out[size_t(68 + k)] = typename Bytes::value_type((stored >> (8 * k)) & 0xFF);
    }
    return out;
}

// Runs body in a forked child that ends with _exit(its result), so that run-once, process-wide modules start
// fresh and no test framework state is torn down twice; the child's exit code, or -1 when it did not end
// normally.
inline int childExit(const std::function<int()>& body) {
    const pid_t child = fork();
    if (child == 0) _exit(body());
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

// Runs a test's body in a forked child, for a body that initialises a process-wide module for good or starts
// threads that outlive it: that stays in the child, away from the program's later cases. True when the child
// ended with no failure; the child prints its failures itself.
inline bool passesInAChildProcess(const std::function<void()>& body) {
    return childExit([&] {
               body();
               return testing::Test::HasFailure() ? 1 : 0;
           }) == 0;
}

}
