// velmora: the window program, on Win32.

#include "module1.h"

#include "velmora/process.h"
#include "win32/main_window.h"

#include <objbase.h>
#include <windows.h>

#include <string>
#include <vector>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // Closed by the desktop in the middle of writing, the program leaves no file of its own.
    // The arguments come from the UTF-16 command line: a file dropped on the program's
    // icon, "Open with" and "Send to" name the file there.
    // Explorer names whole paths: no wildcards are expanded for the window.
    const auto arguments = velmora::StartProcess(velmora::Program::Window, 0, nullptr);
    std::vector<std::string> files;
    for (std::size_t i = 1; arguments && i < arguments->size(); ++i) { // after the program's name
        files.push_back((*arguments)[i].text);
    }
    // The file dialog and the accessible objects are COM's; one apartment on the one thread.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    velmora::app::Main(files);
    if (velmora::app::Window() == nullptr) {
        return 1;
    }
    MSG message;
    int status = 0;
    while (true) {
        const BOOL got = GetMessageW(&message, nullptr, 0, 0);
        if (got == 0) {
            status = static_cast<int>(message.wParam);
            break;
        }
        if (got == -1) {
            status = 1;
            break;
        }
        velmora::win32::MainWindow* window = velmora::app::Window();
        if (window != nullptr && window->IsDialog(message)) {
            continue;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    if (SUCCEEDED(com)) {
        CoUninitialize();
    }
    return status;
}
