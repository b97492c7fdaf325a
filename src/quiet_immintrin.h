// <immintrin.h> for the AVX-512 kernels. GCC 12 starts some AVX-512
// intrinsics' results from an undefined register, which its flow analysis
// then reports as read uninitialised; Clang neither does that nor knows
// GCC's name for the second warning.
#pragma once

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>
#pragma GCC diagnostic pop
#else
#include <immintrin.h>
#endif
