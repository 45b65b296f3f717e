// QV_AVX2_CLONES before a function with a hot loop: on x86 the compiler
// builds it twice, for AVX2 and for the baseline, and the loader picks the
// copy the processor can run (an ifunc, so glibc). Elsewhere, or with a
// compiler or C library that cannot do that, the function is built once,
// as plain code.
#pragma once

#include <cstddef>  // defines __GLIBC__ where glibc is the C library

#if (defined(__x86_64__) || defined(__i386__)) && defined(__GLIBC__) && \
    defined(__has_attribute)
#if __has_attribute(target_clones)
#define QV_AVX2_CLONES __attribute__((target_clones("avx2", "default")))
#endif
#endif

#ifndef QV_AVX2_CLONES
#define QV_AVX2_CLONES
#endif
