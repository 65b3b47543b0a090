#pragma once

#include <QElapsedTimer>
#include <QObject>

class QWidget;

namespace velmora::ui {

class InputHoldState;

// Holds a window's input while a conversion runs on its thread, by the rules of
// InputHoldState: an event filter over the whole application drops what they drop, and
// the cursor shows that the program is busy.
class InputHold final : public QObject {
    Q_OBJECT

public:
    InputHold(QWidget* window, InputHoldState& state);
    // Throws away the input that arrived meanwhile, then gives the cursor back.
    ~InputHold() override;

    // Lets the window repaint where it was uncovered or moved, without taking any input;
    // cheap to call often, it does the work at most every 50 ms.
    void KeepPainted();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* m_window;
    InputHoldState& m_state;
    QElapsedTimer m_sincePaint;
};

} // namespace velmora::ui
