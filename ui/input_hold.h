#pragma once

#include <QElapsedTimer>
#include <QObject>

class QWidget;

namespace velmora::ui {

// Holds a window's input while a conversion runs on its thread. The window system queues
// whatever the user does meanwhile and would hand it over once the conversion ends, when
// the controls are enabled again: a click on the greyed Browse would open its dialog
// afterwards. While held, no input reaches the window, the cursor shows that the program
// is busy, and a request to close the window is kept until the hold ends.
class InputHold final : public QObject {
    Q_OBJECT

public:
    explicit InputHold(QWidget* window);
    // Throws away the input that arrived meanwhile, then gives the cursor back.
    ~InputHold() override;

    // Lets the window repaint where it was uncovered or moved, without taking any input;
    // cheap to call often, it does the work at most every 50 ms.
    void KeepPainted();

    // Whether the window was asked to close while held.
    bool CloseRequested() const { return m_closeRequested; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* m_window;
    QElapsedTimer m_sincePaint;
    bool m_closeRequested = false;
};

} // namespace velmora::ui
