#pragma once
#include "nnet/NnetExport.h"

namespace nnet {

// A model file's configuration version, major.minor.patch.
class NNET_API Version {
public:
    int majorNumber = 0;
    int minorNumber = 0;
    int patchNumber = 0;
};

} // namespace nnet
