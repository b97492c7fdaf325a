// The instruction sets the vector kernels are built for, and whether this
// processor runs them. Every kernel keeps a scalar version beside its
// vector ones and uses the best this processor runs, chosen at run time;
// the rest of the build assumes baseline x86-64.
#pragma once

#include <string_view>

#if defined(__x86_64__) || defined(_M_X64)
#define KURVANE_X86 1
#endif

namespace kurvane {

// `avx512` is the Ice Lake / Zen 4 level: F, BW, VL, VBMI and VBMI2, so a
// kernel may take 64-byte blocks straight into mask registers and use the
// byte permutes.
enum class Isa : unsigned char { scalar, ssse3, avx2, avx512 };
inline constexpr Isa all_isas[] = {Isa::scalar, Isa::ssse3, Isa::avx2, Isa::avx512};

constexpr std::string_view isa_name(Isa isa) {
    switch (isa) {
    case Isa::scalar: return "scalar";
    case Isa::ssse3: return "ssse3";
    case Isa::avx2: return "avx2";
    case Isa::avx512: return "avx512";
    }
    return "unknown";
}

// Whether this build has kernels for `isa` and the processor runs them.
inline bool isa_supported(Isa isa) {
    switch (isa) {
    case Isa::scalar: return true;
#ifdef KURVANE_X86
    case Isa::ssse3: return __builtin_cpu_supports("ssse3");
    case Isa::avx2: return __builtin_cpu_supports("avx2");
    case Isa::avx512:
        return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
               __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512vbmi") &&
               __builtin_cpu_supports("avx512vbmi2");
#else
    case Isa::ssse3:
    case Isa::avx2:
    case Isa::avx512: return false;
#endif
    }
    return false;
}

// The kernel of the newest instruction set that `kernel_for` has for this
// processor (it answers null for a set it lacks), else `scalar`. A kernel
// family calls it once, for a function-local static, which is initialised
// once even when threads race to it.
template <class Kernel>
const Kernel& best_kernel(const Kernel* (*kernel_for)(Isa), const Kernel& scalar) {
    for (const Isa isa : {Isa::avx512, Isa::avx2, Isa::ssse3})
        if (const Kernel* k = kernel_for(isa)) return *k;
    return scalar;
}

}  // namespace kurvane
