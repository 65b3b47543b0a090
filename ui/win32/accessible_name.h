#pragma once

#include <windows.h>

#include <string>

namespace velmora::win32 {

// Gives `control` the name assistive technology reads for it, in place of its caption:
// both Browse buttons read "Browse", and a screen reader tells them apart by these. The
// name is served through Active Accessibility (oleacc), which every Windows since 98 and
// Wine have; the control's own accessible object answers everything else.
void SetAccessibleName(HWND control, std::wstring name);

} // namespace velmora::win32
