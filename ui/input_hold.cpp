#include "input_hold.h"

#include "ui/core/input_hold.h"

#include <QApplication>
#include <QCloseEvent>
#include <QWidget>

namespace velmora::ui {

namespace {

bool IsInput(QEvent::Type type) {
    switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TabletPress:
    case QEvent::TabletMove:
    case QEvent::TabletRelease:
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
        return true;
    default:
        return false;
    }
}

} // namespace

InputHold::InputHold(QWidget* window, InputHoldState& state) : m_window(window), m_state(state) {
    qApp->installEventFilter(this);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    m_sincePaint.start();
}

InputHold::~InputHold() {
    // Events the window system has not handed over yet are fetched first, then every
    // queued event is delivered once, the filter dropping the input among them.
    QGuiApplication::sync();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    QCoreApplication::sendPostedEvents();
    qApp->removeEventFilter(this);
    QApplication::restoreOverrideCursor();
}

void InputHold::KeepPainted() {
    if (m_sincePaint.elapsed() < 50) {
        return;
    }
    // Handles paint and expose events; user input stays queued for the destructor to drop.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    m_sincePaint.restart();
}

bool InputHold::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Close && watched == m_window) {
        if (!m_state.Drops(HeldEvent::Close)) {
            return false;
        }
        event->ignore();
        return true;
    }
    // The window is the program's only one, and no dialog is open while it is held.
    return m_state.Drops(IsInput(event->type()) ? HeldEvent::Input : HeldEvent::Other);
}

} // namespace velmora::ui
