// Compiles the functions between KURVANE_TARGET_BEGIN("isa") and
// KURVANE_TARGET_END for an instruction set the rest of the build does not
// assume, templates instantiated there included. A file calls them only
// after a run-time check that the processor has that instruction set.
#pragma once

#define KURVANE_PRAGMA(x) _Pragma(#x)
// The AVX-512 level `Isa::avx512` checks for at run time (src/isa.h), and
// BMI2, which every processor of that level has.
#define KURVANE_AVX512_TARGET "avx512f,avx512bw,avx512vl,avx512vbmi,avx512vbmi2,bmi2"
#if defined(__clang__)
#define KURVANE_TARGET_BEGIN(isa) \
    KURVANE_PRAGMA(clang attribute push(__attribute__((target(isa))), apply_to = function))
#define KURVANE_TARGET_END KURVANE_PRAGMA(clang attribute pop)
#elif defined(__GNUC__)
#define KURVANE_TARGET_BEGIN(isa) KURVANE_PRAGMA(GCC push_options) KURVANE_PRAGMA(GCC target(isa))
#define KURVANE_TARGET_END KURVANE_PRAGMA(GCC pop_options)
#else
#error "the vector kernels need GCC or Clang function targets"
#endif
