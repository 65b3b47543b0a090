// The kernels eight bytes in a word at a time: any processor.

#include "kernel_bodies.h"

namespace velmora::detail {

namespace {
constexpr Kernels kWord = KernelsOver<WordBlock>("word");
} // namespace

const Kernels& WordKernels() {
    return kWord;
}

} // namespace velmora::detail
