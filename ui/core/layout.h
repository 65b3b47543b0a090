#pragma once

#include <array>
#include <cstddef>
#include <string_view>
#include <vector>

namespace velmora::ui {

// The window's controls, top to bottom as the design places them.
enum class Control {
    Label1,
    FileIn,
    Command2,
    Label2,
    FileOut,
    Command3,
    Label3,
    ProgressBar1,
    Command1,
    Label4,
};
inline constexpr std::size_t kControlCount = 10;

enum class ControlKind { Label, PathBox, Button, ProgressBar };

// Places and sizes in twips, 1/1440 inch, inside the client area from its top left.
struct Twips {
    int left;
    int top;
    int width;
    int height;
};

struct ControlDesign {
    Control control;
    const char* name; // the control's name, also its object name in a front end
    ControlKind kind;
    const char* text; // its text at start; "" for none
    Twips place;
};

// The window as designed, in the order of Control. Label3 and ProgressBar1 share one
// place: the bar, while shown, covers the status text, so it is stacked above it.
inline constexpr ControlDesign kDesign[kControlCount] = {
    {Control::Label1, "Label1", ControlKind::Label, "Input HTML File", {240, 240, 4815, 255}},
    {Control::FileIn, "FileIn", ControlKind::PathBox, "", {240, 480, 4935, 375}},
    {Control::Command2, "Command2", ControlKind::Button, "Browse", {5280, 480, 975, 375}},
    {Control::Label2, "Label2", ControlKind::Label, "Output Text File", {240, 960, 4575, 255}},
    {Control::FileOut, "FileOut", ControlKind::PathBox, "", {240, 1200, 4935, 375}},
    {Control::Command3, "Command3", ControlKind::Button, "Browse", {5280, 1200, 975, 375}},
    {Control::Label3,
     "Label3",
     ControlKind::Label,
     "Select File to Convert",
     {240, 1800, 3500, 375}},
    {Control::ProgressBar1, "ProgressBar1", ControlKind::ProgressBar, "", {240, 1800, 3495, 375}},
    {Control::Command1, "Command1", ControlKind::Button, "Convert", {3960, 1800, 1215, 375}},
    {Control::Label4, "Label4", ControlKind::Label, "Ostrel GIS", {240, 2280, 6015, 255}},
};
inline constexpr Twips kClientArea{0, 0, 6405, 2535};

// The controls that take the keyboard focus, in tab order; the first has it at start.
inline constexpr Control kTabOrder[] = {Control::Command1, Control::FileIn, Control::FileOut,
                                        Control::Command2, Control::Command3};

inline constexpr const ControlDesign& Design(Control control) {
    return kDesign[static_cast<std::size_t>(control)];
}

// The texts a control must show whole: its own text, and for the status label either
// status text. None for the path boxes (longer paths scroll) and the bar.
std::vector<std::string_view> TextsToFit(Control control);

// What the window's font needs, in pixels, measured by the front end in each control's
// own font.
struct FontNeeds {
    struct Text {
        double width = 0;      // the widest of TextsToFit(control)
        double lineHeight = 0; // one line of text
    };
    std::array<Text, kControlCount> texts{};
    double buttonFrame = 0;   // a push button's frame, both sides together
    double buttonMargin = 0;  // room a push button keeps beside its caption
    double pathBoxHeight = 0; // the height a path box needs for one line
};

// A rectangle in pixels inside the client area.
struct Rect {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    bool operator==(const Rect&) const = default;
};

struct Layout {
    std::array<Rect, kControlCount> controls{};
    int width = 0; // of the client area, which is fixed
    int height = 0;
    const Rect& operator[](Control control) const {
        return controls[static_cast<std::size_t>(control)];
    }
};

// Places the controls for a screen of that many dots per inch, each edge in proportion
// to the twips of the design (15 twips to a pixel at 96 dots per inch), and enlarged
// together, window included, where a control's text does not fit: 427 x 169 pixels at
// 96 dots per inch with a font that fits.
Layout LayOut(double dpiX, double dpiY, const FontNeeds& needs);

} // namespace velmora::ui
