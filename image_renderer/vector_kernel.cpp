#include "vector_kernel.h"

namespace {

bool has_avx2() {
#if defined(__x86_64__) || defined(__i386__)
    // Also true only where the system saves the AVX registers.
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
#else
    return false;
#endif
}

}  // namespace

bool vector_kernel_available(VectorKernel kernel) {
    static const bool avx2 = has_avx2();
    return kernel == VectorKernel::baseline || avx2;
}

VectorKernel widest_vector_kernel() {
    static const VectorKernel widest =
        vector_kernel_available(VectorKernel::avx2) ? VectorKernel::avx2 : VectorKernel::baseline;
    return widest;
}
