#pragma once
#include "nnet/NnetExport.h"

#include <string>

namespace nnet::util {

NNET_API std::string lowercase(const std::string& text);

// Weight counts of a corrupt model file can pass 64 bits; a saturated count never equals the length of a
// real weight list, so the model is refused instead of overflowing. Both take non-negative operands.
long count_add(long a, long b);
long count_mul(long a, long b);

} // namespace nnet::util
