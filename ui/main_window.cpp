#include "main_window.h"

#include "common_dialog.h"
#include "convert_command.h"
#include "file_choosers.h"
#include "progress_bar.h"

#include <QApplication>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>

namespace velmora::ui {

namespace {

// The layout is given in twips (1/1440 inch); at 96 dots per inch 15 twips make a
// pixel, and Qt scales pixels for denser screens itself.
QRect Twips(int left, int top, int width, int height) {
    return {left / 15, top / 15, width / 15, height / 15};
}

template <typename Widget>
Widget* Place(Widget* widget, const char* name, const QRect& geometry) {
    widget->setObjectName(QLatin1String(name));
    widget->setGeometry(geometry);
    return widget;
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
    : QWidget(parent),
      m_label1(Place(new QLabel(tr("Input HTML File"), this), "Label1", Twips(240, 240, 4815, 255))),
      m_fileIn(Place(new QLineEdit(this), "FileIn", Twips(240, 480, 4935, 375))),
      m_command2(Place(Button(tr("Browse"), this), "Command2", Twips(5280, 480, 975, 375))),
      m_label2(Place(new QLabel(tr("Output Text File"), this), "Label2", Twips(240, 960, 4575, 255))),
      m_fileOut(Place(new QLineEdit(this), "FileOut", Twips(240, 1200, 4935, 375))),
      m_command3(Place(Button(tr("Browse"), this), "Command3", Twips(5280, 1200, 975, 375))),
      m_label3(Place(new QLabel(kIdleStatus, this), "Label3", Twips(240, 1800, 3500, 375))),
      // Created after Label3 so that, when shown, it lies over the status text.
      m_progressBar1(Place(new ProgressBar(this), "ProgressBar1", Twips(240, 1800, 3495, 375))),
      m_command1(Place(Button(tr("Convert"), this), "Command1", Twips(3960, 1800, 1215, 375))),
      m_label4(Place(new QLabel(QStringLiteral("Ostrel GIS"), this), "Label4",
                     Twips(240, 2280, 6015, 255))),
      m_commonDialog1(dialog ? std::move(dialog) : std::make_unique<FileOpenDialog>(this)) {
    setObjectName(QStringLiteral("velmora"));
    setWindowTitle(QStringLiteral("Velmora - 1.0"));
    setWindowIcon(ProgramIcon());
    setFixedSize(Twips(0, 0, 6405, 2535).size());

    m_fileIn->setAccessibleName(m_label1->text());
    m_fileOut->setAccessibleName(m_label2->text());
    m_progressBar1->hide();

    setTabOrder(m_command1, m_fileIn);
    setTabOrder(m_fileIn, m_fileOut);
    setTabOrder(m_fileOut, m_command2);
    setTabOrder(m_command2, m_command3);
    m_command1->setFocus();

    connect(m_command1, &QPushButton::clicked, this, &MainWindow::convert);
    connect(m_command2, &QPushButton::clicked, this, &MainWindow::browseInput);
    connect(m_command3, &QPushButton::clicked, this, &MainWindow::browseOutput);
}

MainWindow::~MainWindow() = default;

QString MainWindow::GetPathText(PathBox box) const {
    return (box == PathBox::FileIn ? m_fileIn : m_fileOut)->text();
}

void MainWindow::SetPathText(PathBox box, const QString& text) {
    (box == PathBox::FileIn ? m_fileIn : m_fileOut)->setText(text);
}

void MainWindow::SetInputEnabled(Input input, bool enabled) {
    QWidget* const widgets[] = {m_fileIn, m_fileOut, m_command1, m_command2, m_command3};
    widgets[static_cast<int>(input)]->setEnabled(enabled);
}

void MainWindow::SetProgressVisible(bool visible) { m_progressBar1->setVisible(visible); }

void MainWindow::SetProgressMax(float max) { m_progressBar1->SetMax(max); }

void MainWindow::SetProgressValue(float value) { m_progressBar1->SetValue(value); }

void MainWindow::SetStatusText(const QString& text) { m_label3->setText(text); }

void MainWindow::ShowMessage(const QString& message, const QString& title) {
    QMessageBox box(QMessageBox::NoIcon, title, message, QMessageBox::Ok, this);
    box.exec();
}

void MainWindow::Beep() { QApplication::beep(); }

void MainWindow::convert() { ConvertCommand(*this); }

void MainWindow::browseInput() { Command2Click(*this, *m_commonDialog1); }

void MainWindow::browseOutput() { Command3Click(*this, *m_commonDialog1); }

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

} // namespace velmora::ui
