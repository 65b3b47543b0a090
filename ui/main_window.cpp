#include "main_window.h"

#include "common_dialog.h"
#include "convert_command.h"
#include "file_choosers.h"
#include "input_hold.h"
#include "progress_bar.h"
#include "velmora/version.h"

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
#include <cmath>

namespace velmora::ui {

namespace {

// The window's design gives places and sizes in twips, 1/1440 inch: 15 to a pixel at
// 96 dots per inch, 10 at 144.
struct Twips {
    int left;
    int top;
    int width;
    int height;
};

constexpr Twips kClientArea{0, 0, 6405, 2535};

// Each edge is rounded down on its own, so that controls that share an edge in twips
// share it in pixels.
QRect Pixels(const Twips& twips, qreal perTwipX, qreal perTwipY) {
    const auto edge = [](int position, qreal perTwip) {
        return static_cast<int>(std::floor(position * perTwip + 1e-6));
    };
    const int left = edge(twips.left, perTwipX);
    const int top = edge(twips.top, perTwipY);
    return {left, top, edge(twips.left + twips.width, perTwipX) - left,
            edge(twips.top + twips.height, perTwipY) - top};
}

// The room a control needs to show its text whole in its font: a label its text, a
// button its caption inside the frame, a path box one line of text (longer paths
// scroll). The status label must hold either status text.
QSizeF Needed(QWidget* control) {
    const QFontMetricsF metrics(control->font(), control);
    const auto widest = [&](const QStringList& texts) {
        qreal width = 0;
        for (const QString& text : texts) {
            width = std::max(width, metrics.horizontalAdvance(text));
        }
        return std::ceil(width);
    };
    if (auto* label = qobject_cast<QLabel*>(control)) {
        const QStringList texts = label->objectName() == QLatin1String("Label3")
                                      ? QStringList{kIdleStatus, kSuccessStatus}
                                      : QStringList{label->text()};
        return {widest(texts), std::ceil(metrics.height())};
    }
    if (auto* button = qobject_cast<QPushButton*>(control)) {
        QStyleOptionButton option;
        option.initFrom(button);
        const int frame =
            2 * button->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, button);
        const int margin = button->style()->pixelMetric(QStyle::PM_ButtonMargin, &option, button);
        return {widest({button->text()}) + frame + margin, std::ceil(metrics.height()) + frame};
    }
    if (qobject_cast<QLineEdit*>(control) != nullptr) {
        return {0, static_cast<qreal>(control->sizeHint().height())};
    }
    return {0, 0};
}

template <typename Widget> Widget* Named(Widget* widget, const char* name) {
    widget->setObjectName(QLatin1String(name));
    return widget;
}

// One local file, not a folder, or nothing.
QString DroppedFile(const QMimeData* data) {
    const QList<QUrl> urls = data->urls();
    if (urls.size() != 1 || !urls.first().isLocalFile()) {
        return {};
    }
    const QString path = urls.first().toLocalFile();
    return QFileInfo(path).isDir() ? QString() : path;
}

QPushButton* Button(const QString& caption, QWidget* parent) {
    auto* button = new QPushButton(caption, parent);
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
    : QWidget(parent), m_label1(Named(new QLabel(tr("Input HTML File"), this), "Label1")),
      m_fileIn(Named(new QLineEdit(this), "FileIn")),
      m_command2(Named(Button(tr("Browse"), this), "Command2")),
      m_label2(Named(new QLabel(tr("Output Text File"), this), "Label2")),
      m_fileOut(Named(new QLineEdit(this), "FileOut")),
      m_command3(Named(Button(tr("Browse"), this), "Command3")),
      m_label3(Named(new QLabel(kIdleStatus, this), "Label3")),
      // Created after Label3 so that, when shown, it lies over the status text.
      m_progressBar1(Named(new ProgressBar(this), "ProgressBar1")),
      m_command1(Named(Button(tr("Convert"), this), "Command1")),
      m_label4(Named(new QLabel(QStringLiteral("Ostrel GIS"), this), "Label4")),
      m_commonDialog1(dialog ? std::move(dialog) : std::make_unique<FileOpenDialog>(this)) {
    setObjectName(QStringLiteral("velmora"));
    setWindowTitle(QStringLiteral("Velmora - ") + QLatin1String(kVersion));
    setWindowIcon(ProgramIcon());
    LayOut(logicalDpiX(), logicalDpiY());
    m_fileIn->setAccessibleName(m_label1->text());
    m_fileOut->setAccessibleName(m_label2->text());
    // Both captions read "Browse"; a screen reader tells them apart by these.
    m_command2->setAccessibleName(tr("Browse for the input file"));
    m_command3->setAccessibleName(tr("Browse for the output file"));
    m_progressBar1->hide();
    setTabOrder(m_command1, m_fileIn);
    setTabOrder(m_fileIn, m_fileOut);
    setTabOrder(m_fileOut, m_command2);
    setTabOrder(m_command2, m_command3);
    m_command1->setFocus();
    setAcceptDrops(true);
    m_fileIn->installEventFilter(this);
    m_fileOut->installEventFilter(this);

    connect(m_command1, &QPushButton::clicked, this, &MainWindow::convert);
    connect(m_command2, &QPushButton::clicked, this, &MainWindow::browseInput);
    connect(m_command3, &QPushButton::clicked, this, &MainWindow::browseOutput);
}

MainWindow::~MainWindow() = default;

void MainWindow::LayOut(qreal dpiX, qreal dpiY) {
    const std::pair<QWidget*, Twips> controls[] = {
        {m_label1, {240, 240, 4815, 255}},     {m_fileIn, {240, 480, 4935, 375}},
        {m_command2, {5280, 480, 975, 375}},   {m_label2, {240, 960, 4575, 255}},
        {m_fileOut, {240, 1200, 4935, 375}},   {m_command3, {5280, 1200, 975, 375}},
        {m_label3, {240, 1800, 3500, 375}},    {m_progressBar1, {240, 1800, 3495, 375}},
        {m_command1, {3960, 1800, 1215, 375}}, {m_label4, {240, 2280, 6015, 255}},
    };
    const qreal perTwipX = dpiX / 1440;
    const qreal perTwipY = dpiY / 1440;
    // Where a control's text does not fit, the whole window grows in proportion until
    // it does; the pixel more keeps rounding down from taking the room away again.
    qreal grow = 1;
    for (const auto& [control, twips] : controls) {
        const QSizeF needed = Needed(control);
        const QSize room = Pixels(twips, perTwipX, perTwipY).size();
        if (room.width() < needed.width() || room.height() < needed.height()) {
            grow = std::max({grow, (needed.width() + 1) / (twips.width * perTwipX),
                             (needed.height() + 1) / (twips.height * perTwipY)});
        }
    }
    for (const auto& [control, twips] : controls) {
        control->setGeometry(Pixels(twips, perTwipX * grow, perTwipY * grow));
    }
    setFixedSize(Pixels(kClientArea, perTwipX * grow, perTwipY * grow).size());
}

QString MainWindow::GetPathText(PathBox box) const {
    return (box == PathBox::FileIn ? m_fileIn : m_fileOut)->text();
}

void MainWindow::SetPathText(PathBox box, const QString& text) {
    (box == PathBox::FileIn ? m_fileIn : m_fileOut)->setText(text);
}

// The inputs are disabled together when a conversion starts and enabled together when
// it ends: the first one disabled starts holding the window's input, the first one
// enabled again drops what was held.
void MainWindow::SetInputEnabled(Input input, bool enabled) {
    if (!enabled && !m_hold) {
        m_hold = std::make_unique<InputHold>(this);
    } else if (enabled && m_hold) {
        m_closeRequested = m_closeRequested || m_hold->CloseRequested();
        m_hold.reset();
    }
    QWidget* const widgets[] = {m_fileIn, m_fileOut, m_command1, m_command2, m_command3};
    widgets[static_cast<int>(input)]->setEnabled(enabled);
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

void MainWindow::SetStatusText(const QString& text) {
    m_label3->setText(text);
}

void MainWindow::ShowMessage(const QString& message, const QString& title) {
    QMessageBox box(QMessageBox::NoIcon, title, message, QMessageBox::Ok, this);
    // File names are shown as typed, "<b>" and "&lt;" included.
    box.setTextFormat(Qt::PlainText);
    box.exec();
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
    if (m_closeRequested) {
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
    if (m_hold) {
        m_closeRequested = true;
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
}

void MainWindow::Drag(QWidget* target, QDropEvent* event, bool drop) {
    const QString path = DroppedFile(event->mimeData());
    if (path.isEmpty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    if (!drop) {
        return;
    }
    if (target == m_fileOut) {
        OutputChosen(*this, path);
    } else {
        InputChosen(*this, path);
    }
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
