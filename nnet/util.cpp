#include "nnet/util.h"

#include <cctype>
#include <limits>

namespace nnet::util {

std::string lowercase(const std::string& text) {
    std::string lower = text;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}

long count_add(long a, long b) {
    long sum;
    return __builtin_add_overflow(a, b, &sum) ? std::numeric_limits<long>::max() : sum;
}

long count_mul(long a, long b) {
    long product;
    return __builtin_mul_overflow(a, b, &product) ? std::numeric_limits<long>::max() : product;
}

} // namespace nnet::util
