#include "main_window.h"

#include "common_dialog.h"
#include "core/convert_command.h"
#include "core/drop.h"
#include "core/file_choosers.h"
#include "core_text.h"
#include "input_hold.h"
#include "progress_bar.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QMouseEvent>
#include <QPointer>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QUrl>

#include <algorithm>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

namespace velmora::ui {

namespace {

// What a control's text needs in its font, as the layout takes it: the widest of the
// texts it must show whole, and one line.
FontNeeds::Text TextNeeds(QWidget* control, Control which) {
    const QFontMetricsF metrics(control->font(), control);
    qreal width = 0;
    for (const std::string_view text : TextsToFit(which)) {
        width = std::max(width, metrics.horizontalAdvance(
                                    QString::fromUtf8(text.data(), qsizetype(text.size()))));
    }
    return {width, metrics.height()};
}

// The control with its name and its text at start, as designed.
template <typename Widget> Widget* Named(Widget* widget, Control control) {
    const ControlDesign& design = Design(control);
    widget->setObjectName(QLatin1String(design.name));
    if constexpr (requires { widget->setText(QString()); }) {
        widget->setText(QString::fromUtf8(design.text));
    }
    return widget;
}

// The file a drag carries, if the window takes it.
std::optional<std::string> DroppedFile(const QMimeData* data) {
    std::vector<DraggedItem> items;
    for (const QUrl& url : data->urls()) {
        const QString path = url.isLocalFile() ? url.toLocalFile() : QString();
        items.push_back({CoreText(path), !path.isEmpty() && QFileInfo(path).isDir()});
    }
    return AcceptedDrop(items);
}

QPushButton* Button(QWidget* parent) {
    auto* button = new QPushButton(parent);
    // Enter in a path box must click nothing.
    button->setAutoDefault(false);
    button->setDefault(false);
    return button;
}

QIcon ProgramIcon() {
    QIcon icon;
    for (const int size : {16, 24, 32, 48}) {
        icon.addFile(QStringLiteral(":/icons/velmora-%1-8bit.png").arg(size), QSize(size, size));
    }
    for (const int size : {16, 24, 32, 48, 64, 72, 128}) {
        icon.addFile(QStringLiteral(":/icons/velmora-%1.png").arg(size), QSize(size, size));
    }
    return icon;
}

} // namespace

MainWindow::MainWindow(QWidget* parent, std::unique_ptr<CommonDialog> dialog)
    : QWidget(parent), m_label1(Named(new QLabel(this), Control::Label1)),
      m_fileIn(Named(new QLineEdit(this), Control::FileIn)),
      m_command2(Named(Button(this), Control::Command2)),
      m_label2(Named(new QLabel(this), Control::Label2)),
      m_fileOut(Named(new QLineEdit(this), Control::FileOut)),
      m_command3(Named(Button(this), Control::Command3)),
      m_label3(Named(new QLabel(this), Control::Label3)),
      // Created after Label3 so that, when shown, it lies over the status text.
      m_progressBar1(Named(new ProgressBar(this), Control::ProgressBar1)),
      m_command1(Named(Button(this), Control::Command1)),
      m_label4(Named(new QLabel(this), Control::Label4)),
      m_commonDialog1(dialog ? std::move(dialog) : std::make_unique<FileOpenDialog>(this)) {
    setObjectName(QLatin1String(kWindowName));
    setWindowTitle(QString::fromStdString(WindowTitle()));
    setWindowIcon(ProgramIcon());
    LayOut(logicalDpiX(), logicalDpiY());
    m_fileIn->setAccessibleName(m_label1->text());
    m_fileOut->setAccessibleName(m_label2->text());
    // Both captions read "Browse"; a screen reader tells them apart by these.
    m_command2->setAccessibleName(QLatin1String(kBrowseInputName));
    m_command3->setAccessibleName(QLatin1String(kBrowseOutputName));
    m_progressBar1->hide();
    for (std::size_t i = 1; i < std::size(kTabOrder); ++i) {
        setTabOrder(Widget(kTabOrder[i - 1]), Widget(kTabOrder[i]));
    }
    Widget(kTabOrder[0])->setFocus();
    setAcceptDrops(true);
    m_fileIn->installEventFilter(this);
    m_fileOut->installEventFilter(this);

    connect(m_command1, &QPushButton::clicked, this, &MainWindow::convert);
    connect(m_command2, &QPushButton::clicked, this, &MainWindow::browseInput);
    connect(m_command3, &QPushButton::clicked, this, &MainWindow::browseOutput);
}

MainWindow::~MainWindow() = default;

QWidget* MainWindow::Widget(Control control) const {
    QWidget* const widgets[kControlCount] = {m_label1,   m_fileIn,   m_command2, m_label2,
                                             m_fileOut,  m_command3, m_label3,   m_progressBar1,
                                             m_command1, m_label4};
    return widgets[static_cast<std::size_t>(control)];
}

void MainWindow::LayOut(qreal dpiX, qreal dpiY) {
    FontNeeds needs;
    for (const ControlDesign& design : kDesign) {
        needs.texts[static_cast<std::size_t>(design.control)] =
            TextNeeds(Widget(design.control), design.control);
    }
    QStyleOptionButton option;
    option.initFrom(m_command1);
    needs.buttonFrame =
        2 * m_command1->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, m_command1);
    needs.buttonMargin =
        m_command1->style()->pixelMetric(QStyle::PM_ButtonMargin, &option, m_command1);
    needs.pathBoxHeight = m_fileIn->sizeHint().height();

    const Layout layout = ui::LayOut(dpiX, dpiY, needs);
    for (const ControlDesign& design : kDesign) {
        const Rect& place = layout[design.control];
        Widget(design.control)->setGeometry(place.left, place.top, place.width, place.height);
    }
    setFixedSize(layout.width, layout.height);
}

std::string MainWindow::GetPathText(PathBox box) const {
    return CoreText((box == PathBox::FileIn ? m_fileIn : m_fileOut)->text());
}

void MainWindow::SetPathText(PathBox box, const std::string& text) {
    (box == PathBox::FileIn ? m_fileIn : m_fileOut)->setText(QtText(text));
}

// The inputs are disabled together when a conversion starts and enabled together when
// it ends: the first one disabled starts holding the window's input, the first one
// enabled again drops what was held.
void MainWindow::SetInputEnabled(Input input, bool enabled) {
    switch (m_holdState.InputEnabled(enabled)) {
    case InputHoldState::Step::Start:
        m_hold = std::make_unique<InputHold>(this, m_holdState);
        break;
    case InputHoldState::Step::End:
        m_hold.reset();
        m_holdState.Released();
        break;
    case InputHoldState::Step::None:
        break;
    }
    Widget(ControlOf(input))->setEnabled(enabled);
}

void MainWindow::SetProgressVisible(bool visible) {
    m_progressBar1->setVisible(visible);
}

void MainWindow::SetProgressMax(float max) {
    m_progressBar1->SetMax(max);
    if (m_hold) {
        m_hold->KeepPainted();
    }
}

void MainWindow::SetProgressValue(float value) {
    m_progressBar1->SetValue(value);
    if (m_hold) {
        m_hold->KeepPainted();
    }
}

void MainWindow::SetStatusText(const std::string& text) {
    m_label3->setText(QtText(text));
}

namespace {

void ShowBox(QWidget* window, QMessageBox::Icon icon, const std::string& message,
             const std::string& title) {
    QMessageBox box(icon, QtText(title), QtText(message), QMessageBox::Ok, window);
    // File names are shown as typed, "<b>" and "&lt;" included.
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

} // namespace

void MainWindow::ShowMessage(const std::string& message, const std::string& title) {
    ShowBox(this, QMessageBox::NoIcon, message, title);
}

// On Windows the error sound goes with the error icon, as in the system's own boxes. No
// bell rings on Linux, whose desktops sound their own alerts: the bell is the beep of a
// finished conversion.
void MainWindow::ShowFailure(const std::string& message, const std::string& title) {
#ifdef _WIN32
    MessageBeep(MB_ICONHAND);
#endif
    ShowBox(this, QMessageBox::Critical, message, title);
}

void MainWindow::Beep() {
    QApplication::beep();
}

void MainWindow::convert() {
    // Disabling the focused button takes the focus away; it comes back at the end.
    const QPointer<QWidget> focused = focusWidget();
    ConvertCommand(*this);
    if (focused) {
        focused->setFocus();
    }
    if (m_holdState.TakeCloseRequest()) {
        close();
    }
}

void MainWindow::browseInput() {
    Command2Click(*this, *m_commonDialog1);
}

void MainWindow::browseOutput() {
    Command3Click(*this, *m_commonDialog1);
}

// Labels and the progress bar leave mouse clicks to their parent, so a click that
// reaches the window may have landed on one of them: only a click on bare window
// counts as a click on the background.
bool MainWindow::IsBackground(const QPointF& position) const {
    return rect().contains(position.toPoint()) && childAt(position.toPoint()) == nullptr;
}

void MainWindow::mousePressEvent(QMouseEvent* event) {
    m_pressedOnBackground = event->button() == Qt::LeftButton && IsBackground(event->position());
    QWidget::mousePressEvent(event);
}

void MainWindow::mouseReleaseEvent(QMouseEvent* event) {
    if (m_pressedOnBackground && event->button() == Qt::LeftButton &&
        IsBackground(event->position())) {
        SetStatusText(kIdleStatus);
    }
    m_pressedOnBackground = false;
    QWidget::mouseReleaseEvent(event);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    // Asked while a conversion runs, the window closes when it has ended.
    if (!m_holdState.RequestClose()) {
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
}

void MainWindow::Drag(QWidget* target, QDropEvent* event, bool drop) {
    const std::optional<std::string> path = DroppedFile(event->mimeData());
    if (!path) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    if (!drop) {
        return;
    }
    FileDropped(*this,
                target == m_fileOut  ? std::optional(PathBox::FileOut)
                : target == m_fileIn ? std::optional(PathBox::FileIn)
                                     : std::nullopt,
                *path);
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
    Drag(this, event, false);
}

void MainWindow::dragMoveEvent(QDragMoveEvent* event) {
    Drag(this, event, false);
}

void MainWindow::dropEvent(QDropEvent* event) {
    Drag(this, event, true);
}

// The path boxes take dropped text as their own, but dropped files are chosen files:
// the box would insert their "file://" address, which is no path.
bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type != QEvent::DragEnter && type != QEvent::DragMove && type != QEvent::Drop) {
        return false;
    }
    auto* drag = static_cast<QDropEvent*>(event);
    if (!drag->mimeData()->hasUrls()) {
        return false;
    }
    Drag(static_cast<QWidget*>(watched), drag, type == QEvent::Drop);
    return true;
}

} // namespace velmora::ui
