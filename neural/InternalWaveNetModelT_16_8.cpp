// The <16, 8> shape, compiled on its own.
#include "neural/InternalWaveNetModelT.h"

namespace RuveroRidev {

template class InternalWaveNetModelT<16, 8>;

using Shape16x8 = InternalWaveNetModelT<16, 8>;
static_assert(Shape16x8::NumWeights == 13802, "the model file's weight count of this shape");
static_assert(Shape16x8::Array0::ReceptiveFieldSize + Shape16x8::Array1::ReceptiveFieldSize == 4092,
              "the receptive field of every fixed shape");

} // namespace RuveroRidev
