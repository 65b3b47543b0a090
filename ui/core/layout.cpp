#include "ui/core/layout.h"

#include "ui/core/texts.h"

#include <algorithm>
#include <cmath>

namespace velmora::ui {

namespace {

// Each edge is rounded down on its own, so that controls that share an edge in twips
// share it in pixels.
Rect Pixels(const Twips& twips, double perTwipX, double perTwipY) {
    const auto edge = [](int position, double perTwip) {
        return static_cast<int>(std::floor(position * perTwip + 1e-6));
    };
    const int left = edge(twips.left, perTwipX);
    const int top = edge(twips.top, perTwipY);
    return {left, top, edge(twips.left + twips.width, perTwipX) - left,
            edge(twips.top + twips.height, perTwipY) - top};
}

struct Size {
    double width;
    double height;
};

// The room a control needs to show its text whole: a label its text, a button its
// caption inside the frame, a path box one line of text.
Size Needed(const ControlDesign& design, const FontNeeds& needs) {
    const FontNeeds::Text& text = needs.texts[static_cast<std::size_t>(design.control)];
    switch (design.kind) {
    case ControlKind::Label:
        return {std::ceil(text.width), std::ceil(text.lineHeight)};
    case ControlKind::Button:
        return {std::ceil(text.width) + needs.buttonFrame + needs.buttonMargin,
                std::ceil(text.lineHeight) + needs.buttonFrame};
    case ControlKind::PathBox:
        return {0, needs.pathBoxHeight};
    case ControlKind::ProgressBar:
        break;
    }
    return {0, 0};
}

} // namespace

std::vector<std::string_view> TextsToFit(Control control) {
    const ControlDesign& design = Design(control);
    if (control == Control::Label3) {
        return {kIdleStatus, kSuccessStatus};
    }
    if (design.kind == ControlKind::Label || design.kind == ControlKind::Button) {
        return {design.text};
    }
    return {};
}

Layout LayOut(double dpiX, double dpiY, const FontNeeds& needs) {
    const double perTwipX = dpiX / 1440;
    const double perTwipY = dpiY / 1440;
    // Where a control's text does not fit, the whole window grows in proportion until
    // it does; the pixel more keeps rounding down from taking the room away again.
    double grow = 1;
    for (const ControlDesign& design : kDesign) {
        const Size needed = Needed(design, needs);
        const Rect room = Pixels(design.place, perTwipX, perTwipY);
        if (room.width < needed.width || room.height < needed.height) {
            grow = std::max({grow, (needed.width + 1) / (design.place.width * perTwipX),
                             (needed.height + 1) / (design.place.height * perTwipY)});
        }
    }
    Layout layout;
    for (const ControlDesign& design : kDesign) {
        layout.controls[static_cast<std::size_t>(design.control)] =
            Pixels(design.place, perTwipX * grow, perTwipY * grow);
    }
    const Rect client = Pixels(kClientArea, perTwipX * grow, perTwipY * grow);
    layout.width = client.width;
    layout.height = client.height;
    return layout;
}

} // namespace velmora::ui
