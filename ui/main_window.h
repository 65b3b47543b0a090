#pragma once

#include "common_dialog.h"
#include "core/convert_window.h"
#include "core/file_choosers.h"
#include "core/input_hold.h"
#include "core/layout.h"

#include <QWidget>

#include <memory>

class QLabel;
class QLineEdit;
class QMimeData;
class QPushButton;

namespace velmora::ui {

class InputHold;
class ProgressBar;

// The program's one window: two path boxes with their Browse buttons, the Convert
// button, the status line under its progress bar, and the credit line. Every control
// carries its designer name as object name (FileIn, Command1, Label3, ProgressBar1...).
// What the controls do is the core's (ui/core); this binds them to it.
class MainWindow : public QWidget, public ConvertWindow, public ChooserWindow {
    Q_OBJECT
public:
    // `dialog` is the window's file dialog; by default Qt's own, shown modal over the
    // window. Tests hand in one that opens nothing.
    explicit MainWindow(QWidget* parent = nullptr, std::unique_ptr<CommonDialog> dialog = {});
    ~MainWindow() override;

    // ConvertWindow and ChooserWindow
    std::string GetPathText(PathBox box) const override;
    void SetPathText(PathBox box, const std::string& text) override;
    void SetInputEnabled(Input input, bool enabled) override;
    void SetProgressVisible(bool visible) override;
    void SetProgressMax(float max) override;
    void SetProgressValue(float value) override;
    void SetStatusText(const std::string& text) override;
    void ShowMessage(const std::string& message, const std::string& title) override;
    void ShowFailure(const std::string& message, const std::string& title) override;
    void Beep() override;

    // Places the controls for a screen of that many dots per inch, as the core's LayOut
    // gives them for the controls' fonts; then fixes the window's size. The constructor
    // lays the window out for its own screen.
    void LayOut(qreal dpiX, qreal dpiY);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private slots:
    void convert();
    void browseInput();
    void browseOutput();

private:
    bool IsBackground(const QPointF& position) const;
    // A drag onto `target` (FileIn, FileOut or the window itself), accepted or refused;
    // a drop puts the file in its box.
    void Drag(QWidget* target, QDropEvent* event, bool drop);
    QWidget* Widget(Control control) const;

    QLabel* m_label1;
    QLineEdit* m_fileIn;
    QPushButton* m_command2;
    QLabel* m_label2;
    QLineEdit* m_fileOut;
    QPushButton* m_command3;
    QLabel* m_label3;
    ProgressBar* m_progressBar1;
    QPushButton* m_command1;
    QLabel* m_label4;
    std::unique_ptr<CommonDialog> m_commonDialog1;
    bool m_pressedOnBackground = false;
    InputHoldState m_holdState;
    std::unique_ptr<InputHold> m_hold; // while a conversion runs
};

} // namespace velmora::ui
