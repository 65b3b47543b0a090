#include "main_window.h"

#include "accessible_name.h"
#include "common_controls.h"
#include "control_ids.h"
#include "core/convert_command.h"
#include "core/drop.h"
#include "core/progress_fill.h"
#include "core/texts.h"
#include "system_procedure.h"
#include "text.h"

#include <commctrl.h>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <optional>
#include <vector>

namespace velmora::win32 {

namespace {

// The bar counts in steps of its own: the engine's values are floats of any size.
constexpr int kProgressSteps = 10000;
// Repainting while a conversion runs costs nothing seen this often; the bar moves and the
// window answers the system smoothly enough.
constexpr DWORD kPaintInterval = 40;

constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr DWORD kWindowExStyle = WS_EX_ACCEPTFILES;

const auto kArrowCursor = MAKEINTRESOURCEW(32512); // IDC_ARROW
const auto kWaitCursor = MAKEINTRESOURCEW(32514);  // IDC_WAIT

// The order the controls are made in: the dialog manager tabs through them in that order,
// so the ones that take the focus come first, in the design's tab order. Label3 comes
// before the bar that takes its place.
const ui::Control kCreationOrder[] = {
    ui::Control::Command1,     ui::Control::FileIn, ui::Control::FileOut, ui::Control::Command2,
    ui::Control::Command3,     ui::Control::Label1, ui::Control::Label2,  ui::Control::Label3,
    ui::Control::ProgressBar1, ui::Control::Label4,
};
static_assert(std::size(kCreationOrder) == ui::kControlCount);

struct WindowKind {
    const wchar_t* windowClass;
    DWORD style;
    DWORD exStyle;
};

// The labels take clicks of their own (SS_NOTIFY): a click on one is no click on the
// window's background.
WindowKind KindOf(ui::ControlKind kind) {
    switch (kind) {
    case ui::ControlKind::Label:
        return {L"STATIC", WS_VISIBLE | SS_LEFT | SS_NOTIFY, 0};
    case ui::ControlKind::PathBox:
        return {L"EDIT", WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE};
    case ui::ControlKind::Button:
        return {L"BUTTON", WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 0};
    case ui::ControlKind::ProgressBar:
        break;
    }
    return {PROGRESS_CLASSW, 0, 0}; // hidden at start
}

// Per-monitor calls of Windows 10 1607 and later, looked up so that older systems start.
UINT WindowDpi(HWND window) {
    using GetDpiForWindow = UINT(WINAPI*)(HWND);
    if (window != nullptr) {
        if (const auto get = SystemProcedure<GetDpiForWindow>(L"user32.dll", "GetDpiForWindow")) {
            if (const UINT dpi = get(window); dpi != 0) {
                return dpi;
            }
        }
    }
    const HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

// The system's message font, the one dialogs and message boxes use, at `dpi`.
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
    metrics.lfMessageFont.lfHeight = MulDiv(metrics.lfMessageFont.lfHeight, static_cast<int>(dpi),
                                            static_cast<int>(WindowDpi(nullptr)));
    return CreateFontIndirectW(&metrics.lfMessageFont);
}

void AdjustForDpi(RECT& rect, UINT dpi) {
    using ForDpi = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);
    if (const auto adjust = SystemProcedure<ForDpi>(L"user32.dll", "AdjustWindowRectExForDpi")) {
        adjust(&rect, kWindowStyle, FALSE, kWindowExStyle, dpi);
        return;
    }
    AdjustWindowRectEx(&rect, kWindowStyle, FALSE, kWindowExStyle);
}

ui::HeldEvent Kind(const MSG& message) {
    const UINT id = message.message;
    // The system's close keys and the close box are a request to close.
    if ((id == WM_SYSKEYDOWN && message.wParam == VK_F4) || id == WM_CLOSE ||
        (id == WM_SYSCOMMAND && (message.wParam & 0xFFF0) == SC_CLOSE)) {
        return ui::HeldEvent::Close;
    }
    if ((id >= WM_KEYFIRST && id <= WM_KEYLAST) || (id >= WM_MOUSEFIRST && id <= WM_MOUSELAST) ||
        (id >= WM_NCMOUSEMOVE && id <= WM_NCXBUTTONDBLCLK) || id == WM_DROPFILES ||
        id == WM_CONTEXTMENU || id == WM_SYSCOMMAND) {
        return ui::HeldEvent::Input;
    }
    return ui::HeldEvent::Other;
}

} // namespace

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
        // The program's icon, resource 1: every size, the system picks.
        windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
        windowClass.hIconSm = static_cast<HICON>(
            LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                       GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
        windowClass.hCursor = LoadCursorW(nullptr, kArrowCursor);
        windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        windowClass.lpszClassName = kWindowClass;
        if (RegisterClassExW(&windowClass) == 0) {
            return nullptr;
        }
    }
    auto* window = new MainWindow(instance);
    const std::wstring title = Wide(ui::WindowTitle());
    // Made at a default size; the layout gives it its own once its DPI is known.
    if (CreateWindowExW(kWindowExStyle, kWindowClass, title.c_str(), kWindowStyle, CW_USEDEFAULT,
                        CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, instance,
                        window) == nullptr) {
        delete window; // no WM_NCDESTROY reached it
        return nullptr;
    }
    return window;
}

MainWindow* MainWindow::Of(HWND window) {
    wchar_t name[16] = L"";
    GetClassNameW(window, name, static_cast<int>(std::size(name)));
    if (std::wstring_view(name) != kWindowClass) {
        return nullptr;
    }
    return reinterpret_cast<MainWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

HWND MainWindow::Item(ui::Control control) const {
    return GetDlgItem(m_window, ControlId(control));
}

void MainWindow::CreateControls() {
    // The bar's class lives in the common-controls library, registered on request.
    InitCommonControlClasses(ICC_PROGRESS_CLASS);
    for (const ui::Control control : kCreationOrder) {
        const ui::ControlDesign& design = ui::Design(control);
        const WindowKind kind = KindOf(design.kind);
        // Each label's lower edge lies a pixel into its box: clipped to its siblings, a
        // label leaves the box's frame, which stands above it, undrawn over.
        CreateWindowExW(kind.exStyle, kind.windowClass, Wide(design.text).c_str(),
                        WS_CHILD | WS_CLIPSIBLINGS | kind.style, 0, 0, 0, 0, m_window,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(ControlId(control))),
                        m_instance, nullptr);
    }
    SendMessageW(Item(ui::Control::ProgressBar1), PBM_SETRANGE32, 0, kProgressSteps);
    // The boxes' labels follow them in the tab order, where a screen reader would not
    // find them; both Browse captions read "Browse", told apart by these names.
    SetAccessibleName(Item(ui::Control::FileIn), Wide(ui::Design(ui::Control::Label1).text));
    SetAccessibleName(Item(ui::Control::FileOut), Wide(ui::Design(ui::Control::Label2).text));
    SetAccessibleName(Item(ui::Control::Command2), Wide(ui::kBrowseInputName));
    SetAccessibleName(Item(ui::Control::Command3), Wide(ui::kBrowseOutputName));
    DragAcceptFiles(m_window, TRUE);
}

ui::FontNeeds MainWindow::MeasureFont() const {
    ui::FontNeeds needs;
    const HDC context = GetDC(m_window);
    const HGDIOBJ previous = SelectObject(context, m_font);
    TEXTMETRICW metrics{};
    GetTextMetricsW(context, &metrics);
    for (const ui::ControlDesign& design : ui::kDesign) {
        ui::FontNeeds::Text& text = needs.texts[static_cast<std::size_t>(design.control)];
        text.lineHeight = metrics.tmHeight;
        for (const std::string_view fit : ui::TextsToFit(design.control)) {
            const std::wstring wide = Wide(fit);
            SIZE size{};
            GetTextExtentPoint32W(context, wide.c_str(), static_cast<int>(wide.size()), &size);
            text.width = std::max(text.width, static_cast<double>(size.cx));
        }
    }
    SelectObject(context, previous);
    ReleaseDC(m_window, context);
    // A push button's 3D frame of two edges a side, and the room the system's buttons
    // keep beside a caption; a box's sunken edge and a pixel inside it, above and below.
    const double pixel = WindowDpi(m_window) / 96.0;
    needs.buttonFrame = 4 * pixel;
    needs.buttonMargin = 12 * pixel;
    needs.pathBoxHeight = metrics.tmHeight + 6 * pixel;
    return needs;
}

void MainWindow::LayOut(UINT dpi) {
    const HFONT font = MessageFont(dpi);
    for (const ui::ControlDesign& design : ui::kDesign) {
        SendMessageW(Item(design.control), WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    }
    if (m_font != nullptr) {
        DeleteObject(m_font);
    }
    m_font = font;

    const ui::Layout layout = ui::LayOut(dpi, dpi, MeasureFont());
    for (const ui::ControlDesign& design : ui::kDesign) {
        const ui::Rect& place = layout[design.control];
        SetWindowPos(Item(design.control), nullptr, place.left, place.top, place.width,
                     place.height, SWP_NOZORDER | SWP_NOACTIVATE);
    }
    RECT frame{0, 0, layout.width, layout.height};
    AdjustForDpi(frame, dpi);
    SetWindowPos(m_window, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    InvalidateRect(m_window, nullptr, TRUE);
}

void MainWindow::Show(int showCommand) {
    ShowWindow(m_window, showCommand);
    UpdateWindow(m_window);
    SetFocus(Item(ui::Control::Command1));
}

bool MainWindow::IsDialog(MSG& message) {
    return IsDialogMessageW(m_window, &message) != FALSE;
}

std::string MainWindow::GetPathText(ui::PathBox box) const {
    const HWND control =
        Item(box == ui::PathBox::FileIn ? ui::Control::FileIn : ui::Control::FileOut);
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(control)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(
        GetWindowTextW(control, text.data(), static_cast<int>(text.size()))));
    return Utf8(text);
}

void MainWindow::SetPathText(ui::PathBox box, const std::string& text) {
    SetWindowTextW(Item(box == ui::PathBox::FileIn ? ui::Control::FileIn : ui::Control::FileOut),
                   Wide(text).c_str());
}

void MainWindow::SetInputEnabled(ui::Input input, bool enabled) {
    switch (m_hold.InputEnabled(enabled)) {
    case ui::InputHoldState::Step::Start:
        m_lastPaint = GetTickCount();
        SetCursor(LoadCursorW(nullptr, kWaitCursor));
        break;
    case ui::InputHoldState::Step::End:
        ShowProgress(); // the last value, which may have come since the last repaint
        DeliverHeld();
        m_hold.Released();
        SetCursor(LoadCursorW(nullptr, kArrowCursor));
        break;
    case ui::InputHoldState::Step::None:
        break;
    }
    EnableWindow(Item(ui::ControlOf(input)), enabled ? TRUE : FALSE);
}

void MainWindow::SetProgressVisible(bool visible) {
    // The bar takes the status line's place; the line shows again once the bar is hidden.
    ShowWindow(Item(ui::Control::Label3), visible ? SW_HIDE : SW_SHOWNA);
    ShowWindow(Item(ui::Control::ProgressBar1), visible ? SW_SHOWNA : SW_HIDE);
    if (m_hold.Held()) {
        KeepPainted();
    }
}

void MainWindow::SetProgressMax(float max) {
    m_progressMax = max;
    ShowProgress();
}

// A conversion sets a value per tag, millions of them, and every position the bar takes
// costs a repaint of it (Wine's bar paints itself at once: moved at each of its steps, it
// made a large document take ten times the converter's time). So while a conversion runs
// the value is only kept, and the bar hears of it when the window is repainted, at most
// once an interval.
void MainWindow::SetProgressValue(float value) {
    m_progressValue = value;
    if (!m_hold.Held()) {
        ShowProgress();
    } else if (GetTickCount() - m_lastPaint >= kPaintInterval) {
        KeepPainted();
    }
}

void MainWindow::ShowProgress() {
    const int step = ui::FilledSteps(m_progressMax, m_progressValue, kProgressSteps);
    if (step != m_progressStep) {
        m_progressStep = step;
        SendMessageW(Item(ui::Control::ProgressBar1), PBM_SETPOS, static_cast<WPARAM>(step), 0);
    }
}

void MainWindow::SetStatusText(const std::string& text) {
    SetWindowTextW(Item(ui::Control::Label3), Wide(text).c_str());
}

void MainWindow::ShowMessage(const std::string& message, const std::string& title) {
    MessageBoxW(m_window, Wide(message).c_str(), Wide(title).c_str(), MB_OK);
}

// The error icon brings the system's error sound with it.
void MainWindow::ShowFailure(const std::string& message, const std::string& title) {
    MessageBoxW(m_window, Wide(message).c_str(), Wide(title).c_str(), MB_OK | MB_ICONERROR);
}

void MainWindow::Beep() {
    MessageBeep(MB_OK);
}

void MainWindow::KeepPainted() {
    ShowProgress();
    MSG message;
    // Peeking answers what other threads and programs send the window (the system takes
    // a window that never looks at its queue for hung) and leaves posted input queued.
    PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    RedrawWindow(m_window, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    m_lastPaint = GetTickCount();
}

void MainWindow::DeliverHeld() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(message.wParam));
            return;
        }
        if (m_hold.Drops(Kind(message))) {
            if (message.message == WM_DROPFILES) {
                DragFinish(reinterpret_cast<HDROP>(message.wParam));
            }
            continue;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

void MainWindow::Convert() {
    // Disabling the focused button takes the focus away; it comes back at the end.
    const HWND focused = GetFocus();
    ui::ConvertCommand(*this);
    if (focused != nullptr && IsWindow(focused)) {
        SetFocus(focused);
    }
    if (m_hold.TakeCloseRequest()) {
        DestroyWindow(m_window);
    }
}

void MainWindow::Command(int id) {
    if (id == ControlId(ui::Control::Command1)) {
        Convert();
    } else if (id == ControlId(ui::Control::Command2)) {
        ui::Command2Click(*this, m_commonDialog1);
    } else if (id == ControlId(ui::Control::Command3)) {
        ui::Command3Click(*this, m_commonDialog1);
    }
    // Enter and Esc send IDOK and IDCANCEL, which are no control's: nothing is clicked.
}

void MainWindow::Dropped(HDROP drop) {
    POINT point{};
    DragQueryPoint(drop, &point);
    std::vector<ui::DraggedItem> items(DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0));
    for (UINT i = 0; i < items.size(); ++i) {
        std::wstring path(DragQueryFileW(drop, i, nullptr, 0) + 1, L'\0');
        path.resize(DragQueryFileW(drop, i, path.data(), static_cast<UINT>(path.size())));
        const DWORD attributes = GetFileAttributesW(path.c_str());
        items[i].folder =
            attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        items[i].path = Utf8(path);
    }
    DragFinish(drop);
    const std::optional<std::string> path = ui::AcceptedDrop(items);
    if (!path) {
        return;
    }
    const HWND target = ChildWindowFromPointEx(m_window, point, CWP_SKIPINVISIBLE);
    std::optional<ui::PathBox> onBox;
    if (target == Item(ui::Control::FileIn)) {
        onBox = ui::PathBox::FileIn;
    } else if (target == Item(ui::Control::FileOut)) {
        onBox = ui::PathBox::FileOut;
    }
    ui::FileDropped(*this, onBox, *path);
}

// Only a press and a release both on bare window count: the labels and the bar take
// their own clicks.
void MainWindow::BackgroundClicked(LPARAM position) {
    const POINT point{static_cast<short>(LOWORD(position)), static_cast<short>(HIWORD(position))};
    RECT client;
    GetClientRect(m_window, &client);
    if (PtInRect(&client, point) &&
        ChildWindowFromPointEx(m_window, point, CWP_SKIPINVISIBLE) == m_window) {
        SetStatusText(ui::kIdleStatus);
    }
}

LRESULT CALLBACK MainWindow::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* created = reinterpret_cast<CREATESTRUCTW*>(lParam);
        auto* self = static_cast<MainWindow*>(created->lpCreateParams);
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
        // The program's one window: closing it ends the program.
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
    case WM_DPICHANGED: // moved to a monitor of another DPI, or the DPI changed
        LayOut(HIWORD(wParam));
        return 0;
    case WM_COMMAND:
        if (HIWORD(wParam) == BN_CLICKED && !m_hold.Held()) {
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
            SetFocus(m_focus != nullptr && IsWindow(m_focus) ? m_focus
                                                             : Item(ui::Control::Command1));
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
            BackgroundClicked(lParam);
        }
        return 0;
    case WM_CAPTURECHANGED:
        m_pressedOnBackground = false;
        return 0;
    case WM_SETCURSOR:
        if (m_hold.Held()) {
            SetCursor(LoadCursorW(nullptr, kWaitCursor));
            return TRUE;
        }
        break;
    case WM_DROPFILES:
        Dropped(reinterpret_cast<HDROP>(wParam));
        return 0;
    case WM_CLOSE:
        // Asked while a conversion runs, the window closes when it has ended.
        if (m_hold.RequestClose()) {
            DestroyWindow(m_window);
        }
        return 0;
    default:
        break;
    }
    return DefWindowProcW(m_window, message, wParam, lParam);
}

} // namespace velmora::win32
