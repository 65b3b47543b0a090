#pragma once

#include <windows.h>

namespace velmora::win32 {

// A procedure of a system library looked up by name, for calls that older Windows
// versions do not have; nullptr where the library lacks it. GetProcAddress gives every
// procedure one type, which is cast through the generic function type.
template <typename Procedure> Procedure SystemProcedure(HMODULE library, const char* name) {
    if (library == nullptr) {
        return nullptr;
    }
    return reinterpret_cast<Procedure>(reinterpret_cast<void (*)()>(GetProcAddress(library, name)));
}

template <typename Procedure> Procedure SystemProcedure(const wchar_t* library, const char* name) {
    return SystemProcedure<Procedure>(GetModuleHandleW(library), name);
}

} // namespace velmora::win32
