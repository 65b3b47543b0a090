#pragma once

#include "velmora/source.h"
#include "velmora/version.h"

#include <string>

namespace velmora::ui {

// The window's fixed texts, the same in every front end.
inline constexpr const char* kWindowName = "velmora";
// "Velmora - 1.0": the window's title, with the program's version.
inline std::string WindowTitle() {
    return std::string("Velmora - ") + kVersion;
}
inline constexpr const char* kErrorTitle = "mVELMORA Error";
inline constexpr const char* kSuccessStatus = "File Successfully Processed";
inline constexpr const char* kIdleStatus = "Select File to Convert";
// What a refused document gets, in a box titled kErrorTitle.
using velmora::kRefusedMessage;

// The two Browse buttons as assistive technology names them; both captions read "Browse".
inline constexpr const char* kBrowseInputName = "Browse for the input file";
inline constexpr const char* kBrowseOutputName = "Browse for the output file";

} // namespace velmora::ui
