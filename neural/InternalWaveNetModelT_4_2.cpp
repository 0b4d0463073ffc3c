// The <4, 2> shape, compiled on its own.
#include "neural/InternalWaveNetModelT.h"

namespace RuveroRidev {

template class InternalWaveNetModelT<4, 2>;

using Shape4x2 = InternalWaveNetModelT<4, 2>;
static_assert(Shape4x2::NumWeights == 842, "the model file's weight count of this shape");
static_assert(Shape4x2::Array0::ReceptiveFieldSize + Shape4x2::Array1::ReceptiveFieldSize == 4092,
              "the receptive field of every fixed shape");

} // namespace RuveroRidev
