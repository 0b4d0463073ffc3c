// The <12, 6> shape, compiled on its own.
#include "neural/InternalWaveNetModelT.h"

namespace RuveroRidev {

template class InternalWaveNetModelT<12, 6>;

using Shape12x6 = InternalWaveNetModelT<12, 6>;
static_assert(Shape12x6::NumWeights == 6554, "the model file's weight count of this shape");
static_assert(Shape12x6::Array0::ReceptiveFieldSize + Shape12x6::Array1::ReceptiveFieldSize == 4092,
              "the receptive field of every fixed shape");

} // namespace RuveroRidev
