#pragma once

#include "core/layout.h"

#include <string_view>

namespace velmora::win32 {

// A control's identifier: 1001 and up, in the order of the design's controls. None is
// IDOK (1) or IDCANCEL (2): those are what Enter and Esc send, and they must click nothing.
constexpr int ControlId(ui::Control control) {
    return 1001 + static_cast<int>(control);
}

// The control of a design name ("FileIn", "Command1"...), or nothing.
constexpr const ui::ControlDesign* ControlNamed(std::string_view name) {
    for (const ui::ControlDesign& design : ui::kDesign) {
        if (name == design.name) {
            return &design;
        }
    }
    return nullptr;
}

} // namespace velmora::win32
