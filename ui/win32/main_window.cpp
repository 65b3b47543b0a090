#include "main_window.h"

#include "accessible_name.h"
#include "common_controls.h"
#include "system_procedure.h"
#include "text.h"
#include "velmora/version.h"

#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>
#include <cmath>
#include <iterator>

namespace velmora::win32 {

namespace {

constexpr int kProgressSteps = 10000;
// Repainting while a conversion runs costs nothing seen this often.
constexpr DWORD kPaintInterval = 50;

struct ControlSpec {
    int id;
    const wchar_t* windowClass;
    const wchar_t* text;
    DWORD style;
};

// In tab order first: the dialog manager walks the controls in the order they were
// made. The labels take clicks of their own (SS_NOTIFY), so a click on one is no click
// on the window's background; Label3 comes before the bar, which takes its place.
const ControlSpec kControls[] = {
    {kCommand1, L"BUTTON", L"Convert", WS_TABSTOP | BS_PUSHBUTTON},
    {kFileIn, L"EDIT", L"", WS_TABSTOP | WS_BORDER | ES_AUTOHSCROLL},
    {kFileOut, L"EDIT", L"", WS_TABSTOP | WS_BORDER | ES_AUTOHSCROLL},
    {kCommand2, L"BUTTON", L"Browse", WS_TABSTOP | BS_PUSHBUTTON},
    {kCommand3, L"BUTTON", L"Browse", WS_TABSTOP | BS_PUSHBUTTON},
    {kLabel1, L"STATIC", L"Input HTML File", SS_LEFT | SS_NOTIFY},
    {kLabel2, L"STATIC", L"Output Text File", SS_LEFT | SS_NOTIFY},
    {kLabel3, L"STATIC", L"Select File to Convert", SS_LEFT | SS_NOTIFY},
    {kProgressBar1, PROGRESS_CLASSW, L"", 0},
    {kLabel4, L"STATIC", L"Ostrel GIS", SS_LEFT | SS_NOTIFY},
};

// The design's places and sizes, in twips (1/1440 inch).
struct Twips {
    int left;
    int top;
    int width;
    int height;
};
constexpr Twips kClientArea{0, 0, 6405, 2535};
const std::pair<int, Twips> kPlaces[] = {
    {kLabel1, {240, 240, 4815, 255}},     {kFileIn, {240, 480, 4935, 375}},
    {kCommand2, {5280, 480, 975, 375}},   {kLabel2, {240, 960, 4575, 255}},
    {kFileOut, {240, 1200, 4935, 375}},   {kCommand3, {5280, 1200, 975, 375}},
    {kLabel3, {240, 1800, 3500, 375}},    {kProgressBar1, {240, 1800, 3495, 375}},
    {kCommand1, {3960, 1800, 1215, 375}}, {kLabel4, {240, 2280, 6015, 255}},
};

// Each edge is rounded down on its own, so that controls that share an edge in twips
// share it in pixels.
RECT Pixels(const Twips& twips, double perTwip) {
    const auto edge = [&](int position) {
        return static_cast<LONG>(std::floor(position * perTwip + 1e-6));
    };
    return {edge(twips.left), edge(twips.top), edge(twips.left + twips.width),
            edge(twips.top + twips.height)};
}

// Per-monitor calls of Windows 10 1607 and later, looked up so that older systems start.
UINT WindowDpi(HWND window) {
    using GetDpiForWindow = UINT(WINAPI*)(HWND);
    if (const auto get = SystemProcedure<GetDpiForWindow>(L"user32.dll", "GetDpiForWindow")) {
        if (const UINT dpi = get(window); dpi != 0) {
            return dpi;
        }
    }
    const HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

// The system's message font, the one dialogs use, at `dpi`.
HFONT MessageFont(UINT dpi) {
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof(metrics);
    using ForDpi = BOOL(WINAPI*)(UINT, UINT, void*, UINT, UINT);
    const auto forDpi = SystemProcedure<ForDpi>(L"user32.dll", "SystemParametersInfoForDpi");
    if (forDpi != nullptr && forDpi(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0, dpi)) {
        return CreateFontIndirectW(&metrics.lfMessageFont);
    }
    if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0)) {
        return static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    }
    const UINT system = WindowDpi(nullptr);
    metrics.lfMessageFont.lfHeight = MulDiv(metrics.lfMessageFont.lfHeight, dpi, system);
    return CreateFontIndirectW(&metrics.lfMessageFont);
}

void AdjustForDpi(RECT& rect, DWORD style, DWORD exStyle, UINT dpi) {
    using ForDpi = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);
    if (const auto adjust =
            SystemProcedure<ForDpi>(L"user32.dll", "AdjustWindowRectExForDpi")) {
        adjust(&rect, style, FALSE, exStyle, dpi);
        return;
    }
    AdjustWindowRectEx(&rect, style, FALSE, exStyle);
}

constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr DWORD kWindowExStyle = WS_EX_ACCEPTFILES;

bool IsHeldInput(UINT message) {
    return (message >= WM_KEYFIRST && message <= WM_KEYLAST) ||
           (message >= WM_MOUSEFIRST && message <= WM_MOUSELAST) ||
           (message >= WM_NCMOUSEMOVE && message <= WM_NCXBUTTONDBLCLK) ||
           message == WM_DROPFILES || message == WM_CONTEXTMENU;
}

} // namespace

MainWindow::MainWindow(HINSTANCE instance) : m_instance(instance) {}

MainWindow::~MainWindow() {
    if (m_font != nullptr) {
        DeleteObject(m_font);
    }
}

MainWindow* MainWindow::Create(HINSTANCE instance) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    if (!GetClassInfoExW(instance, kWindowClass, &windowClass)) {
        windowClass.lpfnWndProc = &MainWindow::Procedure;
        windowClass.hInstance = instance;
        windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
        windowClass.hIconSm = static_cast<HICON>(
            LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                       GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
        windowClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512)); // IDC_ARROW
        windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        windowClass.lpszClassName = kWindowClass;
        if (RegisterClassExW(&windowClass) == 0) {
            return nullptr;
        }
    }
    auto* window = new MainWindow(instance);
    const std::wstring title = L"Velmora - " + Wide(kVersion);
    // Created at a default size; LayOut gives it its own once the DPI is known.
    if (CreateWindowExW(kWindowExStyle, kWindowClass, title.c_str(), kWindowStyle, CW_USEDEFAULT,
                        CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, instance,
                        window) == nullptr) {
        delete window;
        return nullptr;
    }
    return window;
}

MainWindow* MainWindow::Of(HWND window) {
    wchar_t name[16] = L"";
    GetClassNameW(window, name, 16);
    if (std::wstring_view(name) != kWindowClass) {
        return nullptr;
    }
    return reinterpret_cast<MainWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

void MainWindow::CreateControls() {
    // The bar's class is in the common-controls library, registered on request.
    InitCommonControlClasses(ICC_PROGRESS_CLASS);
    for (const ControlSpec& spec : kControls) {
        DWORD exStyle = 0;
        DWORD style = WS_CHILD | spec.style;
        if (spec.id != kProgressBar1) {
            style |= WS_VISIBLE;
        }
        if (spec.id == kFileIn || spec.id == kFileOut) {
            style &= ~static_cast<DWORD>(WS_BORDER);
            exStyle = WS_EX_CLIENTEDGE;
        }
        CreateWindowExW(exStyle, spec.windowClass, spec.text, style, 0, 0, 0, 0, m_window,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(spec.id)), m_instance,
                        nullptr);
    }
    SendMessageW(Control(kProgressBar1), PBM_SETRANGE32, 0, kProgressSteps);
    // The boxes are read by their labels' texts, which stand after them in the tab order.
    SetAccessibleName(Control(kFileIn), L"Input HTML File");
    SetAccessibleName(Control(kFileOut), L"Output Text File");
    // Both captions read "Browse"; a screen reader tells the buttons apart by these.
    SetAccessibleName(Control(kCommand2), L"Browse for the input file");
    SetAccessibleName(Control(kCommand3), L"Browse for the output file");
    DragAcceptFiles(m_window, TRUE);
}

void MainWindow::LayOut(UINT dpi) {
    m_dpi = dpi;
    const HFONT font = MessageFont(dpi);
    for (const ControlSpec& spec : kControls) {
        SendMessageW(Control(spec.id), WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    }
    if (m_font != nullptr) {
        DeleteObject(m_font);
    }
    m_font = font;

    const double perTwip = dpi / 1440.0;
    for (const auto& [id, twips] : kPlaces) {
        const RECT place = Pixels(twips, perTwip);
        SetWindowPos(Control(id), nullptr, place.left, place.top, place.right - place.left,
                     place.bottom - place.top, SWP_NOZORDER | SWP_NOACTIVATE);
    }
    RECT frame = Pixels(kClientArea, perTwip);
    AdjustForDpi(frame, kWindowStyle, kWindowExStyle, dpi);
    SetWindowPos(m_window, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    InvalidateRect(m_window, nullptr, TRUE);
}

void MainWindow::Show(int showCommand) {
    ShowWindow(m_window, showCommand);
    UpdateWindow(m_window);
    SetFocus(Control(kCommand1));
}

bool MainWindow::IsDialog(MSG& message) {
    return IsDialogMessageW(m_window, &message) != FALSE;
}

std::string MainWindow::GetPathText(ControlId box) const {
    const HWND control = Control(box);
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(control)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(
        GetWindowTextW(control, text.data(), static_cast<int>(text.size()))));
    return Utf8(text);
}

void MainWindow::SetPathText(ControlId box, const std::string& text) {
    SetWindowTextW(Control(box), Wide(text).c_str());
}

// The inputs are disabled together when a conversion starts and enabled together when
// it ends: the first one disabled starts holding the window's input, the first one
// enabled again drops what was held.
void MainWindow::SetInputEnabled(ControlId input, bool enabled) {
    if (!enabled && !m_busy) {
        m_busy = true;
        m_lastPaint = GetTickCount();
        SetCursor(LoadCursorW(nullptr, MAKEINTRESOURCEW(32514))); // IDC_WAIT
    } else if (enabled && m_busy) {
        DropHeldInput();
        m_busy = false;
        POINT cursor{};
        GetCursorPos(&cursor);
        SetCursorPos(cursor.x, cursor.y); // the cursor is asked for again where it stands
        SetCursor(LoadCursorW(nullptr, MAKEINTRESOURCEW(32512)));
    }
    EnableWindow(Control(input), enabled ? TRUE : FALSE);
}

void MainWindow::SetProgressVisible(bool visible) {
    // The bar takes the status line's place; the line shows again once it is hidden.
    ShowWindow(Control(kLabel3), visible ? SW_HIDE : SW_SHOWNA);
    ShowWindow(Control(kProgressBar1), visible ? SW_SHOWNA : SW_HIDE);
    if (m_busy) {
        KeepPainted();
    }
}

void MainWindow::SetProgressMax(float max) {
    m_progressMax = max;
    SetProgressValue(m_progressValue);
}

// The bar counts in steps of its own: the engine's values are floats of any size, and a
// value past the maximum, or a maximum of 0, is drawn clamped.
void MainWindow::SetProgressValue(float value) {
    m_progressValue = value;
    double fraction =
        m_progressMax > 0.0f ? static_cast<double>(m_progressValue) / m_progressMax : 0.0;
    if (!std::isfinite(fraction)) {
        fraction = 0.0;
    }
    fraction = std::clamp(fraction, 0.0, 1.0);
    SendMessageW(Control(kProgressBar1), PBM_SETPOS,
                 static_cast<WPARAM>(std::lround(fraction * kProgressSteps)), 0);
    if (m_busy && GetTickCount() - m_lastPaint >= kPaintInterval) {
        KeepPainted();
    }
}

void MainWindow::SetStatusText(const std::string& text) {
    SetWindowTextW(Control(kLabel3), Wide(text).c_str());
}

void MainWindow::ShowMessage(const std::string& message, const std::string& title) {
    MessageBoxW(m_window, Wide(message).c_str(), Wide(title).c_str(), MB_OK);
}

void MainWindow::Beep() {
    MessageBeep(MB_OK);
}

void MainWindow::KeepPainted() {
    MSG message;
    // Peeking answers what other programs send the window (the system takes a window
    // that never looks at its queue for hung) and leaves the posted input queued.
    PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    RedrawWindow(m_window, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    m_lastPaint = GetTickCount();
}

void MainWindow::DropHeldInput() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(message.wParam));
            return;
        }
        // The system's close keys and the close box are a request to close, kept.
        if ((message.message == WM_SYSKEYDOWN && message.wParam == VK_F4) ||
            (message.message == WM_SYSCOMMAND && (message.wParam & 0xFFF0) == SC_CLOSE) ||
            message.message == WM_CLOSE) {
            m_closeRequested = true;
            continue;
        }
        if (message.message == WM_DROPFILES) {
            DragFinish(reinterpret_cast<HDROP>(message.wParam));
            continue;
        }
        if (IsHeldInput(message.message)) {
            continue;
        }
        DispatchMessageW(&message);
    }
}

void MainWindow::Convert() {
    // Disabling the focused button takes the focus away; it comes back at the end.
    const HWND focused = GetFocus();
    // ConvertCommand(*this);
    if (focused != nullptr && IsWindow(focused)) {
        SetFocus(focused);
    }
    if (m_closeRequested) {
        DestroyWindow(m_window);
    }
}

void MainWindow::Command(int id) {
    switch (id) {
    case kCommand1:
        Convert();
        break;
    case kCommand2:
        // Command2Click(*this, m_commonDialog1);
        break;
    case kCommand3:
        // Command3Click(*this, m_commonDialog1);
        break;
    default: // Enter and Esc send IDOK and IDCANCEL: no button is the default or cancel one
        break;
    }
}

void MainWindow::Dropped(HDROP drop) {
    POINT point{};
    DragQueryPoint(drop, &point);
    const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    std::wstring path;
    if (count == 1) {
        path.resize(DragQueryFileW(drop, 0, nullptr, 0) + 1);
        path.resize(DragQueryFileW(drop, 0, path.data(), static_cast<UINT>(path.size())));
    }
    DragFinish(drop);
    if (path.empty()) {
        return;
    }
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return;
    }
    const HWND target = ChildWindowFromPointEx(m_window, point, CWP_SKIPINVISIBLE);
    (void)target;
    // TODO drop rules from the core
}

LRESULT CALLBACK MainWindow::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* self = static_cast<MainWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        self->m_window = window;
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self == nullptr) {
        return DefWindowProcW(window, message, wParam, lParam);
    }
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        delete self;
        PostQuitMessage(0);
        return 0;
    }
    return self->Handle(message, wParam, lParam);
}

LRESULT MainWindow::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        m_commonDialog1.SetOwner(m_window);
        CreateControls();
        LayOut(WindowDpi(m_window));
        return 0;
    case WM_DPICHANGED:
        LayOut(HIWORD(wParam));
        return 0;
    case WM_COMMAND:
        if (HIWORD(wParam) == BN_CLICKED && !m_busy) {
            Command(LOWORD(wParam));
        }
        return 0;
    case WM_ACTIVATE:
        // The focus goes back to the control that had it when the window is active again.
        if (LOWORD(wParam) == WA_INACTIVE) {
            const HWND focused = GetFocus();
            if (focused != nullptr && IsChild(m_window, focused)) {
                m_focus = focused;
            }
        } else {
            SetFocus(m_focus != nullptr && IsWindow(m_focus) ? m_focus : Control(kCommand1));
        }
        return 0;
    case WM_LBUTTONDOWN:
        m_pressedOnBackground = true;
        SetCapture(m_window);
        return 0;
    case WM_LBUTTONUP:
        if (m_pressedOnBackground) {
            m_pressedOnBackground = false;
            ReleaseCapture();
            const POINT point{static_cast<short>(LOWORD(lParam)),
                              static_cast<short>(HIWORD(lParam))};
            RECT client;
            GetClientRect(m_window, &client);
            if (PtInRect(&client, point) &&
                ChildWindowFromPointEx(m_window, point, CWP_SKIPINVISIBLE) == m_window) {
                SetStatusText("Select File to Convert");
            }
        }
        return 0;
    case WM_CAPTURECHANGED:
        m_pressedOnBackground = false;
        return 0;
    case WM_SETCURSOR:
        if (m_busy) {
            SetCursor(LoadCursorW(nullptr, MAKEINTRESOURCEW(32514)));
            return TRUE;
        }
        break;
    case WM_DROPFILES:
        Dropped(reinterpret_cast<HDROP>(wParam));
        return 0;
    case WM_CLOSE:
        // Asked while a conversion runs, the window closes when it has ended.
        if (m_busy) {
            m_closeRequested = true;
            return 0;
        }
        DestroyWindow(m_window);
        return 0;
    default:
        break;
    }
    return DefWindowProcW(m_window, message, wParam, lParam);
}

} // namespace velmora::win32
