#include "bytes.h"

#include <cstdlib>

namespace velmora::detail {

namespace {

// Whether this processor has AVX2; this may run among the static constructors.
bool RunsAvx2() {
#if defined(VELMORA_X86_KERNELS)
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
#else
    return false;
#endif
}

const Kernels& Widest() {
#if defined(VELMORA_X86_KERNELS)
    return RunsAvx2() ? Avx2Kernels() : Sse2Kernels();
#else
    return WordKernels();
#endif
}

const Kernels* ChooseAtStart() {
    if (const char* name = std::getenv("VELMORA_KERNELS")) {
        if (const Kernels* named = KernelsNamed(name)) {
            return named;
        }
    }
    return &Widest();
}

} // namespace

const Kernels* KernelsNamed(std::string_view name) {
    if (name == "word") {
        return &WordKernels();
    }
#if defined(VELMORA_X86_KERNELS)
    if (name == "sse2") {
        return &Sse2Kernels();
    }
    if (name == "avx2" && RunsAvx2()) {
        return &Avx2Kernels();
    }
#endif
    return nullptr;
}

const Kernels* chosenKernels = ChooseAtStart();

void UseKernels(const Kernels& kernels) {
    chosenKernels = &kernels;
}

} // namespace velmora::detail
