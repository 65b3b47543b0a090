#include "common_controls.h"

#include "system_procedure.h"

#include <windows.h>

namespace velmora::win32 {

namespace {

// The record the initialiser takes: its own size, then the classes to set up.
struct InitCommonControlsRecord {
    std::uint32_t size;
    std::uint32_t classes;
};
static_assert(sizeof(InitCommonControlsRecord) == 8);

} // namespace

bool InitCommonControlClasses(std::uint32_t classes) {
    // Kept loaded: the controls it registers live in it.
    const HMODULE library = LoadLibraryW(L"comctl32.dll");
    if (library == nullptr) {
        return false;
    }
    using Initialiser = BOOL(WINAPI*)(const InitCommonControlsRecord*);
    const auto initialise = SystemProcedure<Initialiser>(library, "InitCommonControlsEx");
    if (initialise == nullptr) {
        return false;
    }
    const InitCommonControlsRecord record{sizeof(InitCommonControlsRecord), classes};
    initialise(&record);
    return true;
}

} // namespace velmora::win32
