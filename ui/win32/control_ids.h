#pragma once

namespace velmora::win32 {

// The controls' identifiers, named as the window's design names them. None is IDOK (1)
// or IDCANCEL (2): those are what Enter and Esc send, and they must click nothing.
enum ControlId : int {
    kCommand1 = 1001,
    kFileIn,
    kFileOut,
    kCommand2,
    kCommand3,
    kLabel1,
    kLabel2,
    kLabel3,
    kLabel4,
    kProgressBar1,
};

// The design's names of the controls, for tools that speak of them.
struct ControlName {
    ControlId id;
    const char* name;
};
inline constexpr ControlName kControlNames[] = {
    {kCommand1, "Command1"}, {kFileIn, "FileIn"}, {kFileOut, "FileOut"},
    {kCommand2, "Command2"}, {kCommand3, "Command3"}, {kLabel1, "Label1"},
    {kLabel2, "Label2"},     {kLabel3, "Label3"},   {kLabel4, "Label4"},
    {kProgressBar1, "ProgressBar1"},
};

// The window class, for the tests and tools that look for the window.
inline constexpr const wchar_t* kWindowClass = L"velmora";

} // namespace velmora::win32
