#include "ui/core/input_hold.h"

namespace velmora::ui {

InputHoldState::Step InputHoldState::InputEnabled(bool enabled) {
    if (!enabled && !m_held) {
        m_held = true;
        return Step::Start;
    }
    if (enabled && m_held && !m_ending) {
        m_ending = true;
        return Step::End;
    }
    return Step::None;
}

void InputHoldState::Released() {
    m_held = false;
    m_ending = false;
}

bool InputHoldState::Drops(HeldEvent event) {
    if (!m_held) {
        return false;
    }
    switch (event) {
    case HeldEvent::Input:
        return true;
    case HeldEvent::Close:
        m_closeRequested = true;
        return true;
    case HeldEvent::Other:
        break;
    }
    return false;
}

bool InputHoldState::RequestClose() {
    return !Drops(HeldEvent::Close);
}

bool InputHoldState::TakeCloseRequest() {
    if (m_held) {
        return false;
    }
    const bool requested = m_closeRequested;
    m_closeRequested = false;
    return requested;
}

} // namespace velmora::ui
