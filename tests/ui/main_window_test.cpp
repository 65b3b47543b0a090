// The window the program shows, driven as a user would: typing, clicking, Tab.

#include "core/scripted_dialog.h"
#include "files.h"
#include "main_window.h"
#include "module1.h"
#include "progress_bar.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleValueInterface>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QProcess>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <cmath>
#include <functional>
#include <memory>

namespace velmora::ui {
namespace {

using test::Read;
using test::Write;

constexpr const char* kDocument = "<dl><dt>Title</dt><dd>Value</dd></dl>";
const char* const kInputNames[] = {"FileIn", "FileOut", "Command1", "Command2", "Command3"};

// Waits for the next modal message box, notes what it shows, and presses its OK button.
class MessageBoxCloser {
public:
    MessageBoxCloser() {
        m_poll.setInterval(10);
        QObject::connect(&m_poll, &QTimer::timeout, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr) {
                return;
            }
            m_poll.stop();
            seen = true;
            title = box->windowTitle();
            text = box->text();
            format = box->textFormat();
            icon = box->icon();
            buttons = box->buttons().size();
            modal = box->isModal();
            if (whileOpen) {
                whileOpen();
            }
            box->button(QMessageBox::Ok)->click();
        });
        m_poll.start();
    }

    bool seen = false;
    QString title;
    QString text;
    Qt::TextFormat format = Qt::AutoText;
    QMessageBox::Icon icon = QMessageBox::Critical;
    qsizetype buttons = 0;
    bool modal = false;
    std::function<void()> whileOpen;

private:
    QTimer m_poll;
};

// The real window, noting what it looks like whenever the command moves the bar.
class ProbeWindow : public MainWindow {
public:
    // Browse clicks meet a dialog that the user cancels.
    ProbeWindow() : ProbeWindow(new test::ScriptedDialog) {}
    explicit ProbeWindow(test::ScriptedDialog* scripted)
        : MainWindow(nullptr, std::unique_ptr<CommonDialog>(scripted)), dialog(scripted) {}

    test::ScriptedDialog* dialog;

    QStringList seen;
    std::function<void()> whileConverting;

    void SetProgressVisible(bool visible) override {
        if (visible) {
            auto* bar = findChild<ProgressBar*>("ProgressBar1");
            seen.append(QStringLiteral("shown at %1 of %2").arg(bar->Value()).arg(bar->Max()));
        }
        MainWindow::SetProgressVisible(visible);
    }
    void SetProgressValue(float value) override {
        QString state = findChild<QLabel*>("Label3")->text();
        for (const char* name : kInputNames) {
            if (findChild<QWidget*>(name)->isEnabled()) {
                state += QStringLiteral(", %1 enabled").arg(name);
            }
        }
        if (!findChild<QWidget*>("ProgressBar1")->isVisible()) {
            state += ", bar hidden";
        }
        seen.append(state);
        if (whileConverting) {
            whileConverting();
        }
        MainWindow::SetProgressValue(value);
    }
};

} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT

private slots:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        m_window = std::make_unique<ProbeWindow>();
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    }
    void cleanup() { m_window.reset(); }

    void layoutAtStart_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QRect>("place");
        QTest::addColumn<bool>("visible");
        QTest::newRow("input caption") << "Label1"
                                       << "Input HTML File" << QRect(16, 16, 321, 17) << true;
        QTest::newRow("input box") << "FileIn"
                                   << "" << QRect(16, 32, 329, 25) << true;
        QTest::newRow("input browse") << "Command2"
                                      << "Browse" << QRect(352, 32, 65, 25) << true;
        QTest::newRow("output caption") << "Label2"
                                        << "Output Text File" << QRect(16, 64, 305, 17) << true;
        QTest::newRow("output box") << "FileOut"
                                    << "" << QRect(16, 80, 329, 25) << true;
        QTest::newRow("output browse") << "Command3"
                                       << "Browse" << QRect(352, 80, 65, 25) << true;
        QTest::newRow("status") << "Label3"
                                << "Select File to Convert" << QRect(16, 120, 233, 25) << true;
        QTest::newRow("progress") << "ProgressBar1"
                                  << "" << QRect(16, 120, 233, 25) << false;
        QTest::newRow("convert") << "Command1"
                                 << "Convert" << QRect(264, 120, 81, 25) << true;
        QTest::newRow("credit") << "Label4"
                                << "Ostrel GIS" << QRect(16, 152, 401, 17) << true;
    }

    void layoutAtStart() {
        QFETCH(QString, name);
        QFETCH(QString, text);
        QFETCH(QRect, place);
        QFETCH(bool, visible);
        auto* widget = m_window->findChild<QWidget*>(name);
        QVERIFY(widget != nullptr);
        QCOMPARE(widget->geometry(), place);
        QCOMPARE(widget->isVisible(), visible);
        QVERIFY(widget->isEnabled());
        if (auto* label = qobject_cast<QLabel*>(widget)) {
            QCOMPARE(label->text(), text);
        } else if (auto* button = qobject_cast<QPushButton*>(widget)) {
            QCOMPARE(button->text(), text);
            QVERIFY(!button->isDefault() && !button->autoDefault());
        } else if (auto* box = qobject_cast<QLineEdit*>(widget)) {
            QCOMPARE(box->text(), text);
        }
    }

    void windowAtStart() {
        QCOMPARE(m_window->windowTitle(), QString("Velmora - 1.0"));
        QCOMPARE(m_window->size(), QSize(427, 169));
        QCOMPARE(m_window->minimumSize(), m_window->maximumSize());
        QVERIFY(m_window->windowIcon().availableSizes().contains(QSize(128, 128)));
        QCOMPARE(m_window->findChild<QWidget*>("FileIn")->accessibleName(),
                 QString("Input HTML File"));
        QCOMPARE(m_window->findChild<QWidget*>("FileOut")->accessibleName(),
                 QString("Output Text File"));
    }

    void focusStartsOnConvertAndTabsInOrder() {
        m_window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
        QCOMPARE(QApplication::focusWidget()->objectName(), QString("Command1"));
        QStringList visited;
        for (int i = 0; i < 5; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            visited.append(QApplication::focusWidget()->objectName());
        }
        QCOMPARE(visited, (QStringList{"FileIn", "FileOut", "Command2", "Command3", "Command1"}));
    }

    void convertsTypedPathsOnAClick() {
        Write(m_dir->filePath("in.html"), kDocument);
        QTest::keyClicks(Box("FileIn"), m_dir->filePath("in.html"));
        QTest::keyClicks(Box("FileOut"), m_dir->filePath("out.txt"));
        QTest::mouseClick(Child("Command1"), Qt::LeftButton);
        QCOMPARE(Read(m_dir->filePath("out.txt")), QByteArray("\r\n  Title\r\n    Value"));
        QCOMPARE(Status(), QString("File Successfully Processed"));
        auto* bar = m_window->findChild<ProgressBar*>("ProgressBar1");
        QVERIFY(!bar->isVisible());
        QCOMPARE(bar->Max(), 28.0f);
        QCOMPARE(bar->Value(), 28.0f);
        for (const char* name : kInputNames) {
            QVERIFY2(Child(name)->isEnabled(), name);
        }
        QCOMPARE(m_window->seen.size(), 6);
        QCOMPARE(m_window->seen[1], QString("Select File to Convert"));
    }

    void enterAndEscapeClickNothing() {
        Write(m_dir->filePath("in.html"), kDocument);
        Box("FileIn")->setText(m_dir->filePath("in.html"));
        Box("FileOut")->setText(m_dir->filePath("out.txt"));
        QTest::keyClick(Box("FileIn"), Qt::Key_Return);
        QTest::keyClick(Box("FileOut"), Qt::Key_Enter);
        QTest::keyClick(Box("FileOut"), Qt::Key_Escape);
        QVERIFY(!QFile::exists(m_dir->filePath("out.txt")));
        QVERIFY(m_window->isVisible());
    }

    void refusalIsAPlainModalBox() {
        Write(m_dir->filePath("in.html"), "<!-- ZOAK Metadata Report Generated --><dl></dl>");
        Box("FileIn")->setText(m_dir->filePath("in.html"));
        Box("FileOut")->setText(m_dir->filePath("out.txt"));
        MessageBoxCloser closer;
        QString behind;
        closer.whileOpen = [&] {
            behind = Child("ProgressBar1")->isVisible() ? "bar shown" : "bar hidden";
            behind += Child("Command1")->isEnabled() ? ", inputs enabled" : ", inputs disabled";
        };
        QTest::mouseClick(Child("Command1"), Qt::LeftButton);
        QVERIFY(closer.seen);
        QCOMPARE(closer.title, QString("mVELMORA Error"));
        QCOMPARE(closer.text, QString("ZOAK Metadata Generated HTML Reports Not Supported"));
        QCOMPARE(closer.icon, QMessageBox::NoIcon);
        QCOMPARE(closer.buttons, 1);
        QVERIFY(closer.modal);
        QCOMPARE(behind, QString("bar hidden, inputs enabled"));
        QCOMPARE(Status(), QString("Select File to Convert"));
        QVERIFY(!QFile::exists(m_dir->filePath("out.txt")));
    }

    void emptyInputsChangeNothing() {
        Write(m_dir->filePath("empty.html"), "");
        Box("FileOut")->setText(m_dir->filePath("out.txt"));
        QTest::mouseClick(Child("Command1"), Qt::LeftButton); // FileIn empty
        Box("FileIn")->setText(m_dir->filePath("empty.html"));
        QTest::mouseClick(Child("Command1"), Qt::LeftButton); // a file of no bytes
        QVERIFY(m_window->seen.isEmpty());
        QVERIFY(QApplication::activeModalWidget() == nullptr);
        QVERIFY(!Child("ProgressBar1")->isVisible());
        QVERIFY(!QFile::exists(m_dir->filePath("out.txt")));
    }

    void failureIsReportedAndTheWindowStaysReady_data() {
        QTest::addColumn<QString>("fileIn");
        QTest::addColumn<QString>("fileOut");
        QTest::addColumn<QString>("message");
        QTest::newRow("an output in a missing folder") << "in.html"
                                                       << "missing/out.txt"
                                                       << "Cannot write \"%1/missing/out.txt\"";
        QTest::newRow("a missing input") << "missing.html"
                                         << "out.txt"
                                         << "Cannot read \"%1/missing.html\"";
    }

    // After a success, a failure leaves no success on view, while its box is open or after.
    void failureIsReportedAndTheWindowStaysReady() {
        QFETCH(QString, fileIn);
        QFETCH(QString, fileOut);
        QFETCH(QString, message);
        ConvertOnce(); // leaves "File Successfully Processed"
        Box("FileIn")->setText(m_dir->filePath(fileIn));
        Box("FileOut")->setText(m_dir->filePath(fileOut));
        MessageBoxCloser closer;
        QString behind;
        closer.whileOpen = [&] { behind = Status(); };
        QTest::mouseClick(Child("Command1"), Qt::LeftButton);
        QVERIFY(closer.seen);
        QCOMPARE(closer.title, QString("mVELMORA Error"));
        QCOMPARE(closer.text, message.arg(m_dir->path()) + ": No such file or directory.");
        QCOMPARE(closer.icon, QMessageBox::Critical);
        QCOMPARE(closer.buttons, 1);
        QCOMPARE(behind, QString("Select File to Convert"));
        QCOMPARE(Status(), QString("Select File to Convert"));
        QVERIFY(!Child("ProgressBar1")->isVisible());
        for (const char* name : kInputNames) {
            QVERIFY2(Child(name)->isEnabled(), name);
        }
    }

    void onlyTheBackgroundResetsTheStatus() {
        ConvertOnce();
        for (const char* name : {"Label1", "Label3", "Label4", "FileIn"}) {
            QTest::mouseClick(Child(name), Qt::LeftButton);
            QVERIFY2(Status() == "File Successfully Processed", name);
        }
        QTest::mouseClick(m_window.get(), Qt::LeftButton, {}, QPoint(400, 135));
        QCOMPARE(Status(), QString("Select File to Convert"));
    }

    void browseClicksResetTheStatus() {
        for (const char* name : {"Command2", "Command3"}) {
            ConvertOnce();
            QTest::mouseClick(Child(name), Qt::LeftButton);
            QVERIFY2(Status() == "Select File to Convert", name);
        }
    }

    // The second run starts with what the first left: its status on view and its
    // maximum and value in the bar until the new maximum arrives.
    void twoConversionsInARow() {
        ConvertOnce();
        m_window->seen.clear();
        ConvertOnce();
        const QString during = "File Successfully Processed";
        QCOMPARE(m_window->seen,
                 (QStringList{"shown at 28 of 28", during, during, during, during, during}));
    }

    // Clicks and keys made while a conversion holds the window reach nothing, then or
    // after; the window still paints where it was uncovered, shows the busy cursor, and
    // gives the focus back to Convert.
    void aConversionTakesNoInputButRepaints() {
        int paints = 0;
        Counter counter(QEvent::Paint, paints);
        Child("Label1")->installEventFilter(&counter);
        int calls = 0;
        Qt::CursorShape cursor = Qt::ArrowCursor;
        m_window->whileConverting = [&] {
            if (calls++ > 0) {
                return;
            }
            cursor = QApplication::overrideCursor()->shape();
            for (const char* name : {"Command2", "Command1"}) {
                for (const QEvent::Type type :
                     {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
                    QCoreApplication::postEvent(
                        Child(name), new QMouseEvent(type, QPointF(5, 5), QPointF(5, 5),
                                                     Qt::LeftButton, Qt::LeftButton, {}));
                }
            }
            QCoreApplication::postEvent(Box("FileIn"),
                                        new QKeyEvent(QEvent::KeyPress, Qt::Key_X, {}, "x"));
            Child("Label1")->update(); // as if uncovered
            QTest::qSleep(60);
            paints = 0;
        };
        Child("Command1")->setFocus();
        ConvertOnce();
        QCOMPARE(cursor, Qt::WaitCursor);
        QVERIFY(paints > 0);
        QCOMPARE(calls, 5); // one conversion
        QTest::qWait(20);
        QCOMPARE(calls, 5);
        QVERIFY(m_window->dialog->calls.empty());
        QCOMPARE(Box("FileIn")->text(), m_dir->filePath("in.html"));
        QVERIFY(QApplication::overrideCursor() == nullptr);
        QCOMPARE(m_window->focusWidget(), Child("Command1"));
    }

    void closingDuringAConversionWaitsForItsEnd() {
        bool visibleAfterClose = false;
        m_window->whileConverting = [&] {
            m_window->close();
            visibleAfterClose = m_window->isVisible();
        };
        ConvertOnce();
        QVERIFY(visibleAfterClose);
        QVERIFY(!m_window->isVisible());
    }

    void fileNamesInMessagesAreShownAsTyped() {
        Box("FileIn")->setText(m_dir->filePath("<b>x</b>&lt;y.html"));
        MessageBoxCloser closer;
        QTest::mouseClick(Child("Command1"), Qt::LeftButton);
        QCOMPARE(closer.format, Qt::PlainText);
        QVERIFY(closer.text.contains("<b>x</b>&lt;y.html"));
    }

    void assistiveTechnologyTellsTheControlsApart() {
        QCOMPARE(QAccessible::queryAccessibleInterface(Child("Command2"))->text(QAccessible::Name),
                 QString("Browse for the input file"));
        QCOMPARE(QAccessible::queryAccessibleInterface(Child("Command3"))->text(QAccessible::Name),
                 QString("Browse for the output file"));
        auto* bar = m_window->findChild<ProgressBar*>("ProgressBar1");
        bar->SetMax(28.0f);
        bar->SetValue(14.0f);
        QAccessibleInterface* announced = QAccessible::queryAccessibleInterface(bar);
        QCOMPARE(announced->role(), QAccessible::ProgressBar);
        QCOMPARE(announced->valueInterface()->currentValue().toInt(), 50);
        QCOMPARE(announced->text(QAccessible::Value), QString("50%"));
    }

    void droppedFiles_data() {
        QTest::addColumn<QString>("target");
        QTest::addColumn<QStringList>("urls");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<QString>("fileIn");
        QTest::addColumn<QString>("fileOut");
        const QStringList one{"file:///data/report.html"};
        QTest::newRow("on the window: input and proposal")
            << "velmora" << one << true << "/data/report.html"
            << "/data/report.txt";
        QTest::newRow("on a button: as on the window")
            << "Command1" << one << true << "/data/report.html"
            << "/data/report.txt";
        QTest::newRow("on FileIn: input and proposal")
            << "FileIn" << one << true << "/data/report.html"
            << "/data/report.txt";
        QTest::newRow("on FileOut: the output") << "FileOut" << one << true << "typed.html"
                                                << "/data/report.html";
        QTest::newRow("a remote file")
            << "FileIn" << QStringList{"https://example.org/a.html"} << false << "typed.html"
            << "";
        QTest::newRow("two files")
            << "velmora" << QStringList{"file:///a.html", "file:///b.html"} << false << "typed.html"
            << "";
        QTest::newRow("a folder") << "FileOut" << QStringList{"file:///tmp"} << false
                                  << "typed.html"
                                  << "";
    }

    void droppedFiles() {
        QFETCH(QString, target);
        QFETCH(QStringList, urls);
        QFETCH(bool, accepted);
        Box("FileIn")->setText("typed.html");
        QMimeData data;
        data.setUrls(QList<QUrl>(urls.begin(), urls.end()));
        data.setText(urls.join('\n'));
        QWidget* on = target == "velmora" ? m_window.get() : Child(qPrintable(target));
        const QPoint at = on->mapTo(m_window.get(), QPoint(3, 3));
        QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, {});
        QApplication::sendEvent(m_window->windowHandle(), &enter);
        QCOMPARE(enter.isAccepted(), accepted);
        QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, {});
        QApplication::sendEvent(m_window->windowHandle(), &drop);
        QTEST(Box("FileIn")->text(), "fileIn");
        QTEST(Box("FileOut")->text(), "fileOut");
    }

    // The text of every control shows whole, and the window keeps its shape.
    void textFitsAtEveryDpiAndFontSize_data() {
        QTest::addColumn<int>("dpi");
        QTest::addColumn<int>("points");
        for (const int dpi : {96, 144, 192}) {
            for (const int points : {8, 12, 16}) {
                QTest::addRow("%d dpi, %d pt", dpi, points) << dpi << points;
            }
        }
    }

    void textFitsAtEveryDpiAndFontSize() {
        QFETCH(int, dpi);
        QFETCH(int, points);
        QFont font = m_window->font();
        font.setPixelSize(points * dpi / 72); // the desktop font as that screen draws it
        m_window->setFont(font);
        m_window->LayOut(dpi, dpi);
        const QSize size = m_window->size();
        QVERIFY(size.width() >= 6405 * dpi / 1440 && size.height() >= 2535 * dpi / 1440);
        QVERIFY(std::abs(size.width() * 2535.0 / (size.height() * 6405.0) - 1.0) < 0.01);
        QCOMPARE(m_window->minimumSize(), m_window->maximumSize());
        const QFontMetrics metrics(font);
        for (auto* label : m_window->findChildren<QLabel*>()) {
            const QStringList texts =
                label->objectName() == "Label3"
                    ? QStringList{"Select File to Convert", "File Successfully Processed"}
                    : QStringList{label->text()};
            for (const QString& text : texts) {
                QVERIFY2(metrics.horizontalAdvance(text) <= label->width(), qPrintable(text));
                QVERIFY2(metrics.height() <= label->height(), qPrintable(text));
            }
        }
        for (auto* button : m_window->findChildren<QPushButton*>()) {
            QStyleOptionButton option;
            option.initFrom(button);
            const QRect inside =
                button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
            QVERIFY(metrics.horizontalAdvance(button->text()) <= inside.width());
            QVERIFY(metrics.height() <= inside.height());
        }
        for (auto* box : m_window->findChildren<QLineEdit*>()) {
            QVERIFY(box->height() >= box->sizeHint().height());
        }
    }

    // A display that does not answer: one line naming it, and exit status 1.
    void startUpWithoutADisplay_data() {
        QTest::addColumn<QStringList>("environment");
        QTest::addColumn<QString>("display");
        QTest::newRow("X server that does not answer")
            << QStringList{"QT_QPA_PLATFORM=xcb", "DISPLAY=:65000"} << ":65000";
        // A runtime folder without the compositor's socket: with none, the Wayland library
        // says so on a line of its own before Qt is told anything.
        QTest::newRow("Wayland compositor that is not there")
            << QStringList{"QT_QPA_PLATFORM=wayland", "WAYLAND_DISPLAY=velmora-none",
                           "XDG_RUNTIME_DIR=" + QDir::tempPath()}
            << "velmora-none";
    }

    void startUpWithoutADisplay() {
        QFETCH(QStringList, environment);
        QFETCH(QString, display);
        QProcess program;
        program.setEnvironment(QStringList{"PATH=/usr/bin:/bin", "LC_ALL=C.UTF-8"} + environment);
        program.start(VELMORA_APP, {});
        QVERIFY(program.waitForFinished(20000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 1);
        const QString said = program.readAllStandardError();
        QCOMPARE(said.count('\n'), 1);
        QVERIFY2(said.contains('"' + display + '"'), qPrintable(said));
    }

    void startUpShowsTheOneWindow() {
        QVERIFY(!app::TryInitCommonControls()); // no such library here; harmless
        app::Main();
        MainWindow* window = app::Window();
        QVERIFY(window != nullptr);
        QVERIFY(QTest::qWaitForWindowExposed(window));
        app::Main();
        QCOMPARE(app::Window(), window);
        window->close();
        QTRY_VERIFY(app::Window() == nullptr);
    }

    // `velmora PATH`: the boxes filled as by Browse, from the current folder, nothing
    // converted; anything but one file starts the window empty, as a drop of it would.
    void startUpOnAFile_data() {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QString>("fileIn");
        QTest::addColumn<QString>("fileOut");
        QTest::newRow("a relative path") << QStringList{"in.html"} << "%1/in.html"
                                         << "%1/in.txt";
        QTest::newRow("a path through another folder")
            << QStringList{"./sub/../in.html"} << "%1/in.html"
            << "%1/in.txt";
        QTest::newRow("an absolute path") << QStringList{"%1/sub/a.b.htm"} << "%1/sub/a.b.htm"
                                          << "%1/sub/a.b.txt";
        QTest::newRow("two files") << QStringList{"in.html", "in.html"} << ""
                                   << "";
        QTest::newRow("a folder") << QStringList{"sub"} << ""
                                  << "";
    }

    void startUpOnAFile() {
        QFETCH(QStringList, files);
        QFETCH(QString, fileIn);
        QFETCH(QString, fileOut);
        Write(m_dir->filePath("in.html"), kDocument);
        QVERIFY(QDir(m_dir->path()).mkdir("sub"));
        const QString previous = QDir::currentPath();
        QDir::setCurrent(m_dir->path());
        for (QString& file : files) {
            file = file.arg(m_dir->path());
        }
        app::Main(files);
        QDir::setCurrent(previous);
        MainWindow* window = app::Window();
        QVERIFY(window != nullptr);
        QCOMPARE(window->findChild<QLineEdit*>("FileIn")->text(), fileIn.arg(m_dir->path()));
        QCOMPARE(window->findChild<QLineEdit*>("FileOut")->text(), fileOut.arg(m_dir->path()));
        QCOMPARE(window->findChild<QLabel*>("Label3")->text(), QString("Select File to Convert"));
        QVERIFY(!QFile::exists(fileOut.arg(m_dir->path())));
        if (QFile::exists(fileIn.arg(m_dir->path()))) { // converted once Convert is pressed
            QTest::mouseClick(window->findChild<QWidget*>("Command1"), Qt::LeftButton);
            QCOMPARE(window->findChild<QLabel*>("Label3")->text(),
                     QString("File Successfully Processed"));
            QVERIFY(QFile::exists(fileOut.arg(m_dir->path())));
        }
        window->close();
        QTRY_VERIFY(app::Window() == nullptr);
    }

private:
    struct Counter : QObject {
        Counter(QEvent::Type type, int& count) : m_type(type), m_count(count) {}
        bool eventFilter(QObject*, QEvent* event) override {
            m_count += event->type() == m_type;
            return false;
        }
        QEvent::Type m_type;
        int& m_count;
    };

    QWidget* Child(const char* name) { return m_window->findChild<QWidget*>(name); }
    QLineEdit* Box(const char* name) { return m_window->findChild<QLineEdit*>(name); }
    QString Status() { return m_window->findChild<QLabel*>("Label3")->text(); }

    void ConvertOnce() {
        Write(m_dir->filePath("in.html"), kDocument);
        Box("FileIn")->setText(m_dir->filePath("in.html"));
        Box("FileOut")->setText(m_dir->filePath("out.txt"));
        QTest::mouseClick(Child("Command1"), Qt::LeftButton);
        QCOMPARE(Status(), QString("File Successfully Processed"));
    }

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<ProbeWindow> m_window;
};

} // namespace velmora::ui

QTEST_MAIN(velmora::ui::TestMainWindow)
#include "main_window_test.moc"
