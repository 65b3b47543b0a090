// velmora-probe: looks at and works the running Win32 window from outside, for the tests
// under Wine, where xdotool reaches only what X sees. Each command prints one line of
// UTF-8 and exits 0, or names what it could not do and exits 1.
//   text NAME            the control's text          settext NAME HEX   its text, as UTF-8 hex
//   state NAME           "enabled visible" or "disabled hidden", ...
//   focus                the name of the control with the focus
//   name NAME            the control's name to assistive technology (Active Accessibility)
//   progress             the bar's position and range: "POS MIN MAX"
//   client               the client area: "WIDTH HEIGHT"
//   box                  the message box the window shows: title|text|buttons|icons
//   where NAME [EDGE]    the control's middle on the screen, or that of its left or top
//                        edge: "X Y"
//   drop NAME HEX...     files (UTF-8 hex) dropped on the control, as the shell drops them
#include "win32/control_ids.h"
#include "win32/main_window.h"
#include "win32/text.h"

#include <windows.h>

#include <commctrl.h>
#include <oleacc.h>
#include <shlobj.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace velmora::win32;

void Print(const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

int Fail(const std::string& why) {
    std::fprintf(stderr, "velmora-probe: %s\n", why.c_str());
    return 1;
}

std::string FromHex(const std::wstring& hex) {
    std::string bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes.push_back(static_cast<char>(std::stoi(Utf8(hex.substr(i, 2)), nullptr, 16)));
    }
    return bytes;
}

int IdOf(const std::string& name) {
    const velmora::ui::ControlDesign* design = ControlNamed(name);
    return design != nullptr ? ControlId(design->control) : 0;
}

std::string NameOf(int id) {
    for (const velmora::ui::ControlDesign& design : velmora::ui::kDesign) {
        if (ControlId(design.control) == id) {
            return design.name;
        }
    }
    return "none";
}

std::wstring TextOf(HWND window) {
    std::wstring text(32768, L'\0');
    const LRESULT length =
        SendMessageW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<std::size_t>(length));
    return text;
}

std::wstring ClassOf(HWND window) {
    wchar_t name[64] = L"";
    GetClassNameW(window, name, 64);
    return name;
}

struct Box {
    HWND owner;
    HWND found;
};

BOOL CALLBACK FindBox(HWND window, LPARAM data) {
    auto* box = reinterpret_cast<Box*>(data);
    if (ClassOf(window) == L"#32770" && GetWindow(window, GW_OWNER) == box->owner &&
        IsWindowVisible(window)) {
        box->found = window;
        return FALSE;
    }
    return TRUE;
}

// The box's parts: its buttons' captions and whether a child shows an icon.
struct BoxParts {
    std::string text;
    std::vector<std::string> buttons;
    int icons = 0;
};

BOOL CALLBACK ListParts(HWND child, LPARAM data) {
    auto* parts = reinterpret_cast<BoxParts*>(data);
    const std::wstring kind = ClassOf(child);
    const LONG style = GetWindowLongW(child, GWL_STYLE);
    if (!IsWindowVisible(child)) {
        return TRUE;
    }
    if (_wcsicmp(kind.c_str(), L"Button") == 0) {
        parts->buttons.push_back(Utf8(TextOf(child)));
    } else if (_wcsicmp(kind.c_str(), L"Static") == 0) {
        if ((style & SS_TYPEMASK) == SS_ICON) {
            if (SendMessageW(child, STM_GETICON, 0, 0) != 0) {
                ++parts->icons;
            }
        } else if (!TextOf(child).empty()) {
            parts->text += Utf8(TextOf(child));
        }
    }
    return TRUE;
}

// Files dropped the way the shell drops them: a DROPFILES block the window's process can
// read, posted with WM_DROPFILES. A fixed block is its own handle to GlobalLock, so
// memory written into that process serves; DragFinish's free of it fails harmlessly.
int Drop(HWND window, HWND target, const std::vector<std::wstring>& files) {
    RECT place;
    GetWindowRect(target, &place);
    POINT point{(place.left + place.right) / 2, (place.top + place.bottom) / 2};
    ScreenToClient(window, &point);
    std::vector<char> block(sizeof(DROPFILES));
    auto* header = reinterpret_cast<DROPFILES*>(block.data());
    header->pFiles = sizeof(DROPFILES);
    header->pt = point;
    header->fNC = FALSE;
    header->fWide = TRUE;
    for (const std::wstring& file : files) {
        const char* bytes = reinterpret_cast<const char*>(file.c_str());
        block.insert(block.end(), bytes, bytes + (file.size() + 1) * sizeof(wchar_t));
    }
    block.resize(block.size() + sizeof(wchar_t), '\0');
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    const HANDLE other = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_WRITE, FALSE, process);
    if (other == nullptr) {
        return Fail("cannot open the window's process");
    }
    void* remote =
        VirtualAllocEx(other, nullptr, block.size(), MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (remote == nullptr ||
        !WriteProcessMemory(other, remote, block.data(), block.size(), nullptr)) {
        CloseHandle(other);
        return Fail("cannot write into the window's process");
    }
    CloseHandle(other);
    PostMessageW(window, WM_DROPFILES, reinterpret_cast<WPARAM>(remote), 0);
    Print("dropped");
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        return Fail("usage: velmora-probe COMMAND [NAME] [ARGUMENT...]");
    }
    const std::string command = Utf8(argv[1]);
    const HWND window = FindWindowW(kWindowClass, nullptr);
    if (window == nullptr) {
        return Fail("no window of class velmora");
    }
    HWND control = nullptr;
    if (argc >= 3 && command != "drop" && command != "box") {
        control = GetDlgItem(window, IdOf(Utf8(argv[2])));
        if (control == nullptr) {
            return Fail("no control " + Utf8(argv[2]));
        }
    }
    if (command == "text" && control) {
        Print(Utf8(TextOf(control)));
    } else if (command == "settext" && control && argc >= 4) {
        const std::wstring text = Wide(FromHex(argv[3]));
        SendMessageW(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
        Print("set");
    } else if (command == "state" && control) {
        Print(std::string(IsWindowEnabled(control) ? "enabled" : "disabled") +
              (IsWindowVisible(control) ? " visible" : " hidden"));
    } else if (command == "focus") {
        GUITHREADINFO info{};
        info.cbSize = sizeof(info);
        GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info);
        Print(info.hwndFocus == nullptr ? "none" : NameOf(GetDlgCtrlID(info.hwndFocus)));
    } else if (command == "name" && control) {
        CoInitialize(nullptr);
        IAccessible* accessible = nullptr;
        const HRESULT made = AccessibleObjectFromWindow(control, static_cast<DWORD>(OBJID_CLIENT),
                                                        __uuidof(IAccessible),
                                                        reinterpret_cast<void**>(&accessible));
        if (FAILED(made)) {
            char code[16];
            std::snprintf(code, sizeof(code), "%08lx", static_cast<unsigned long>(made));
            return Fail(std::string("no accessible object: ") + code);
        }
        VARIANT self;
        VariantInit(&self);
        self.vt = VT_I4;
        self.lVal = CHILDID_SELF;
        BSTR name = nullptr;
        const HRESULT got = accessible->get_accName(self, &name);
        accessible->Release();
        if (FAILED(got) || name == nullptr) {
            return Fail("no accessible name");
        }
        Print(Utf8(name));
        SysFreeString(name);
    } else if (command == "progress") {
        const HWND bar = GetDlgItem(window, ControlId(velmora::ui::Control::ProgressBar1));
        // The range's record would not reach another process: each limit on its own.
        Print(std::to_string(SendMessageW(bar, PBM_GETPOS, 0, 0)) + " " +
              std::to_string(SendMessageW(bar, PBM_GETRANGE, TRUE, 0)) + " " +
              std::to_string(SendMessageW(bar, PBM_GETRANGE, FALSE, 0)));
    } else if (command == "where" && control) {
        RECT place;
        GetWindowRect(control, &place);
        const std::string edge = argc >= 4 ? Utf8(argv[3]) : "";
        Print(std::to_string(edge == "left" ? place.left : (place.left + place.right) / 2) + " " +
              std::to_string(edge == "top" ? place.top : (place.top + place.bottom) / 2));
    } else if (command == "client") {
        RECT client;
        GetClientRect(window, &client);
        Print(std::to_string(client.right) + " " + std::to_string(client.bottom));
    } else if (command == "box") {
        Box box{window, nullptr};
        EnumThreadWindows(GetWindowThreadProcessId(window, nullptr), FindBox,
                          reinterpret_cast<LPARAM>(&box));
        if (box.found == nullptr) {
            Print("none");
            return 0;
        }
        BoxParts parts;
        EnumChildWindows(box.found, ListParts, reinterpret_cast<LPARAM>(&parts));
        std::string buttons;
        for (const std::string& button : parts.buttons) {
            buttons += (buttons.empty() ? "" : ",") + button;
        }
        Print(Utf8(TextOf(box.found)) + "|" + parts.text + "|" + buttons + "|" +
              std::to_string(parts.icons));
    } else if (command == "drop" && argc >= 4) {
        const HWND target = GetDlgItem(window, IdOf(Utf8(argv[2])));
        std::vector<std::wstring> files;
        for (int i = 3; i < argc; ++i) {
            files.push_back(Wide(FromHex(argv[i])));
        }
        return Drop(window, target != nullptr ? target : window, files);
    } else {
        return Fail("unknown command or missing argument: " + command);
    }
    return 0;
}
