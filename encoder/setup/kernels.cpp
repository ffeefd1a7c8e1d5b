// The kernels' instruction level and tables.
#include "encoder/setup/kernels.h"

#include "encoder/coding/transform.h"

namespace vintrel {

void init_kernels(Kernels& kernels) {
    kernels.simd = processor_simd_level();
    init_forward_dct(kernels.transform);
    init_inverse_dct(kernels.transform);
}

}  // namespace vintrel
