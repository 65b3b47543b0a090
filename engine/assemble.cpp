#include "phases.h"

#include "bytes.h"
#include "out_of_memory.h"
#include "stages.h"
#include "steps.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <stdexcept>

namespace velmora {

namespace detail {

bool IsContentLine(std::string_view trimmed) {
    const bool notEndingInMarker = trimmed.empty() || trimmed.back() != '+';
    const bool longerThanOne = trimmed.size() > 1;
    return notEndingInMarker && longerThanOne;
}

} // namespace detail

Result<std::string> AssembleIndentedText(std::string_view rewritten, ProgressSink& sink,
                                         float progressMax) {
    return detail::OrOutOfMemory(Action::Convert, {}, [&]() -> Result<std::string> {
        std::string output;
        detail::StringSink into(output);
        detail::Assembler assembler(into);
        assembler.Take(rewritten);
        assembler.Finish();
        sink.SetValue(progressMax);
        return output;
    });
}

} // namespace velmora
