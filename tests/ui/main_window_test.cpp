// The window the program shows, driven as a user would: typing, clicking, Tab.

#include "files.h"
#include "app/module1.h"
#include "scripted_dialog.h"
#include "ui/main_window.h"
#include "ui/progress_bar.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

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
    ProbeWindow() : MainWindow(nullptr, std::make_unique<test::ScriptedDialog>()) {}

    QStringList seen;

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
        QTest::newRow("input caption") << "Label1" << "Input HTML File" << QRect(16, 16, 321, 17) << true;
        QTest::newRow("input box") << "FileIn" << "" << QRect(16, 32, 329, 25) << true;
        QTest::newRow("input browse") << "Command2" << "Browse" << QRect(352, 32, 65, 25) << true;
        QTest::newRow("output caption") << "Label2" << "Output Text File" << QRect(16, 64, 305, 17) << true;
        QTest::newRow("output box") << "FileOut" << "" << QRect(16, 80, 329, 25) << true;
        QTest::newRow("output browse") << "Command3" << "Browse" << QRect(352, 80, 65, 25) << true;
        QTest::newRow("status") << "Label3" << "Select File to Convert" << QRect(16, 120, 233, 25) << true;
        QTest::newRow("progress") << "ProgressBar1" << "" << QRect(16, 120, 233, 25) << false;
        QTest::newRow("convert") << "Command1" << "Convert" << QRect(264, 120, 81, 25) << true;
        QTest::newRow("credit") << "Label4" << "Ostrel GIS" << QRect(16, 152, 401, 17) << true;
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

    void failingOutputIsReportedAndTheWindowStaysReady() {
        ConvertOnce(); // leaves "File Successfully Processed"
        Box("FileOut")->setText(m_dir->filePath("missing/out.txt"));
        MessageBoxCloser closer;
        QTest::mouseClick(Child("Command1"), Qt::LeftButton);
        QVERIFY(closer.seen);
        QCOMPARE(closer.title, QString("mVELMORA Error"));
        QCOMPARE(closer.text, "Cannot write \"" + m_dir->filePath("missing/out.txt") +
                                  "\": No such file or directory.");
        QCOMPARE(Status(), QString("File Successfully Processed"));
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

private:
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
