#include "assemble.h"

#include "io.h"
#include "system.h"

#include <new>

namespace velmora {

void InstallInterruptCleanup() { sys::InstallInterruptCleanup(); }

Result<void> WriteOutputStream(int fd, std::string_view text, const std::string& name) {
    sys::OutputFile stream = sys::OutputFile::Stream(fd, name);
    return stream.Write(text);
}

Result<void> WriteOutputFile(const std::string& path, std::string_view text) {
    try {
        Result<sys::OutputFile> file = sys::OutputFile::Create(path);
        if (!file.Ok()) {
            return file.GetFailure();
        }
        Result<void> written = file.Value().Write(text);
        return written.Ok() ? file.Value().Commit() : written;
    } catch (const std::bad_alloc&) {
        return Failure{"cannot write", path, detail::kOutOfMemory};
    }
}

} // namespace velmora
