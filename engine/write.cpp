#include "phases.h"

#include "out_of_memory.h"
#include "system.h"

#include <new>

namespace velmora {

Result<void> WriteOutputFile(const std::string& path, std::string_view text) {
    return detail::OrOutOfMemory(Action::Write, path, [&]() -> Result<void> {
        Result<sys::OutputFile> file = sys::OutputFile::Create(path);
        if (!file.has_value()) {
            return file.error();
        }
        Result<void> written = file.value().Write(text);
        return written.has_value() ? file.value().Commit() : written;
    });
}

} // namespace velmora
