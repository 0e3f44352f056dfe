// What the processor offers beyond the instruction set the program is built for, asked once.
#pragma once

namespace qel {

// Byte shuffles (SSSE3): kernels built for them run only where this is true.
inline bool hasSsse3() {
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
    static const bool yes = __builtin_cpu_supports("ssse3");
    return yes;
#else
    return false;
#endif
}

}  // namespace qel
