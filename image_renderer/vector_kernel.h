// The loops over a row that run in vector lanes (the levels, the colours,
// the range scan) are each compiled twice: for the baseline of the target,
// which every processor of it has, and on x86 for AVX2. The widest the
// processor has is chosen once, at run time; every kernel gives the same
// bytes.
#ifndef DISCHARGE_IMAGE_RENDERER_VECTOR_KERNEL_H
#define DISCHARGE_IMAGE_RENDERER_VECTOR_KERNEL_H

enum class VectorKernel { baseline, avx2 };

// Whether this processor can run `kernel`.
bool vector_kernel_available(VectorKernel kernel);

// The widest kernel this processor can run.
VectorKernel widest_vector_kernel();

// Marks the AVX2 variant of a kernel. Where the target is not x86 no
// processor has AVX2: that variant is then compiled plainly and never called.
#if defined(__x86_64__) || defined(__i386__)
#define DISCHARGE_AVX2 [[gnu::target("avx2")]]
#else
#define DISCHARGE_AVX2
#endif

#endif  // DISCHARGE_IMAGE_RENDERER_VECTOR_KERNEL_H
