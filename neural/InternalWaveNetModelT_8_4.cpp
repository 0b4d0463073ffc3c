// The <8, 4> shape, compiled on its own.
#include "neural/InternalWaveNetModelT.h"

namespace RuveroRidev {

template class InternalWaveNetModelT<8, 4>;

using Shape8x4 = InternalWaveNetModelT<8, 4>;
static_assert(Shape8x4::NumWeights == 3026, "the model file's weight count of this shape");
static_assert(Shape8x4::Array0::ReceptiveFieldSize + Shape8x4::Array1::ReceptiveFieldSize == 4092,
              "the receptive field of every fixed shape");

} // namespace RuveroRidev
