// libFuzzer entry: any bytes as an input file, converted by the engine and by the literal
// model; a difference aborts with both results.

#include "bytes.h"
#include "model/compare.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The model restarts its searches from the front: keep inputs where it stays quick.
    if (size > 4096) {
        return 0;
    }
    // Each input through one of the kernel tables, taken by its size (one this machine
    // cannot run leaves the last one in force).
    if (const velmora::detail::Kernels* kernels =
            velmora::detail::KernelsNamed(velmora::detail::kKernelNames[size % 3])) {
        velmora::detail::UseKernels(*kernels);
    }
    const std::string file(reinterpret_cast<const char*>(data), size);
    const std::string difference =
        velmora::model::Difference(velmora::model::Convert(file), velmora::model::RunEngine(file));
    if (!difference.empty()) {
        std::fprintf(stderr, "engine and model differ: %s\n", difference.c_str());
        std::abort();
    }
    return 0;
}
