// The two Browse buttons: their steps against a scripted dialog, then Qt's real file
// dialog as a user meets it.

#include "common_dialog.h"
#include "file_choosers.h"
#include "main_window.h"
#include "scripted_dialog.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QSortFilterProxyModel>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>

namespace velmora::ui {
namespace {

constexpr const char* kSuccess = "File Successfully Processed";
constexpr const char* kIdle = "Select File to Convert";

class RecordingWindow final : public ChooserWindow {
public:
    QString fileIn = "typed-in.html";
    QString fileOut = "typed-out.txt";
    QString status = kSuccess;

    QString GetPathText(PathBox box) const override {
        return box == PathBox::FileIn ? fileIn : fileOut;
    }
    void SetPathText(PathBox box, const QString& text) override {
        (box == PathBox::FileIn ? fileIn : fileOut) = text;
    }
    void SetStatusText(const QString& text) override { status = text; }
};

// Runs `user` on the first modal file dialog to open, inside its event loop, as the
// person in front of it would act. A dialog that the user's acts leave open is
// cancelled, so that a failing test ends instead of waiting for ever.
void WhenTheDialogOpens(std::function<void(QFileDialog*)> user) {
    auto* poll = new QTimer;
    poll->setInterval(10);
    QObject::connect(poll, &QTimer::timeout, [poll, user] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr) {
            return;
        }
        poll->stop();
        poll->deleteLater();
        // Nobody types into a dialog before it has the focus; keys sent earlier reach a
        // name box that the dialog still fills in itself.
        if (!QTest::qWaitFor(
                [dialog] { return dialog->isAncestorOf(QApplication::focusWidget()); })) {
            qWarning("the dialog never took the focus");
        }
        user(dialog);
        if (dialog->isVisible()) {
            qWarning("the dialog stayed open; cancelling it");
            dialog->reject();
        }
    });
    poll->start();
}

// Types `text` into the dialog's file name box and presses Enter.
void TypeFileName(QFileDialog* dialog, const QString& text) {
    auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
    name->selectAll();
    QTest::keyClicks(name, text);
    QTest::keyClick(name, Qt::Key_Return);
}

// The file names the dialog lists in `folder`, once it has read the folder.
QStringList Listed(QFileDialog* dialog, const QString& folder, int entriesOnDisk) {
    auto* proxy = dialog->proxyModel();
    auto* files = qobject_cast<QFileSystemModel*>(proxy->sourceModel());
    const QModelIndex source = files->index(folder);
    for (int i = 0; i < 500 && files->rowCount(source) < entriesOnDisk; ++i) {
        QTest::qWait(10);
    }
    const QModelIndex root = proxy->mapFromSource(source);
    QStringList names;
    for (int row = 0; row < proxy->rowCount(root); ++row) {
        names.append(proxy->index(row, 0, root).data().toString());
    }
    names.sort();
    return names;
}

} // namespace

class TestFileChoosers : public QObject {
    Q_OBJECT

private slots:
    void inputChosenFillsBothBoxes() {
        RecordingWindow window;
        test::ScriptedDialog dialog;
        dialog.nextChoice = "/data/report.html";
        Command2Click(window, dialog);
        QCOMPARE(window.status, QString(kIdle));
        QCOMPARE(window.fileIn, QString("/data/report.html"));
        QCOMPARE(window.fileOut, QString("/data/report.txt")); // the typed output is replaced
        QCOMPARE(dialog.calls,
                 (QStringList{"SetFilter " + kInputFilter, "SetCancelError true", "ShowOpen on "}));
    }

    void outputChosenFillsOnlyItsBox() {
        RecordingWindow window;
        test::ScriptedDialog dialog;
        dialog.nextChoice = "/data/new.txt";
        Command3Click(window, dialog);
        QCOMPARE(window.status, QString(kIdle));
        QCOMPARE(window.fileIn, QString("typed-in.html"));
        QCOMPARE(window.fileOut, QString("/data/new.txt"));
        QCOMPARE(dialog.calls.first(), "SetFilter " + kOutputFilter);
    }

    // The dialog's file name passes from one button to the other: confirming the output
    // dialog at once puts the input's own path in FileOut.
    void outputDialogOpensOnTheInputChosen() {
        RecordingWindow window;
        test::ScriptedDialog dialog;
        dialog.nextChoice = "/data/report.html";
        Command2Click(window, dialog);
        Command3Click(window, dialog);
        QCOMPARE(dialog.calls.last(), QString("ShowOpen on /data/report.html"));
        QCOMPARE(window.fileOut, QString("/data/report.html"));
    }

    void failuresEndQuietly_data() {
        QTest::addColumn<bool>("input");
        QTest::addColumn<QString>("failAt");
        for (const bool input : {true, false}) {
            const char* chooser = input ? "input" : "output";
            QTest::addRow("%s cancelled", chooser) << input << QString();
            for (const char* step : {"SetFilter", "SetCancelError", "ShowOpen", "FileName"}) {
                QTest::addRow("%s failing at %s", chooser, step) << input << QString(step);
            }
        }
    }

    // Whatever fails, the click ends without a word: the status was reset first, and the
    // boxes keep what they held.
    void failuresEndQuietly() {
        QFETCH(bool, input);
        QFETCH(QString, failAt);
        RecordingWindow window;
        test::ScriptedDialog dialog;
        dialog.failAt = failAt;
        dialog.nextChoice = failAt.isEmpty() ? QString() : QString("/data/chosen.html");
        input ? Command2Click(window, dialog) : Command3Click(window, dialog);
        QCOMPARE(window.status, QString(kIdle));
        QCOMPARE(window.fileIn, QString("typed-in.html"));
        QCOMPARE(window.fileOut, QString("typed-out.txt"));
    }

    void proposesTheOutputPath_data() {
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<QString>("proposed");
        QTest::newRow("html") << "C:\\data\\report.html"
                              << "C:\\data\\report.txt";
        QTest::newRow("upper-case extension") << "C:\\data\\REPORT.HTM"
                                              << "C:\\data\\REPORT.txt";
        QTest::newRow("two dots") << "C:\\data\\a.b.htm"
                                  << "C:\\data\\a.b.txt";
        QTest::newRow("no dot") << "C:\\data\\report"
                                << "C:\\data\\report.txt";
        QTest::newRow("trailing dot") << "C:\\data\\report."
                                      << "C:\\data\\report.txt";
        QTest::newRow("dot in a folder") << "C:\\data.old\\report"
                                         << "C:\\data.txt";
        QTest::newRow("already text") << "C:\\data\\notes.txt"
                                      << "C:\\data\\notes.txt";
        QTest::newRow("beyond ASCII") << "/données/café.html"
                                      << "/données/café.txt";
    }

    void proposesTheOutputPath() {
        QFETCH(QString, chosen);
        QFETCH(QString, proposed);
        RecordingWindow window;
        test::ScriptedDialog dialog;
        dialog.nextChoice = chosen;
        Command2Click(window, dialog);
        QCOMPARE(window.fileOut, proposed);
    }

    // Qt's dialog itself: the descriptions as given, the first selected, only matching
    // files listed whatever the case of their extension, and "All Files" listing names
    // without a dot too.
    void realDialogFiltersAsUsersExpect() {
        QTemporaryDir dir;
        for (const char* name :
             {"report.html", "REPORT.HTM", "notes.txt", "NOTES.TXT", "README", "data.csv"}) {
            QFile file(dir.filePath(name));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        QVERIFY(QDir(dir.path()).mkdir("sub"));

        QWidget owner;
        FileOpenDialog dialog(&owner);
        QStringList offered;
        QString selected;
        QStringList html;
        QStringList all;
        WhenTheDialogOpens([&](QFileDialog* shown) {
            offered = shown->nameFilters();
            selected = shown->selectedNameFilter();
            shown->setDirectory(dir.path());
            html = Listed(shown, dir.path(), 7);
            auto* entries = shown->findChild<QComboBox*>("fileTypeCombo");
            entries->setFocus();
            QTest::keyClick(entries, Qt::Key_Down); // the user picks the second entry
            all = Listed(shown, dir.path(), 7);
            shown->reject();
        });
        dialog.SetFilter(kInputFilter);
        dialog.SetCancelError(true);
        int error = 0;
        try {
            dialog.ShowOpen();
        } catch (const DialogError& failure) {
            error = failure.number;
        }
        QCOMPARE(error, kCancelError);
        QCOMPARE(offered, (QStringList{"HTML (*.htm, *.html)", "All Files (*.*)"}));
        QCOMPARE(selected, QString("HTML (*.htm, *.html)"));
        QCOMPARE(html, (QStringList{"REPORT.HTM", "report.html", "sub"}));
        QCOMPARE(all, (QStringList{"NOTES.TXT", "README", "REPORT.HTM", "data.csv", "notes.txt",
                                   "report.html", "sub"}));
    }

    // Start, Browse for the input, Browse for the output (the dialog opening on the
    // input chosen), typing a name that does not exist yet.
    void realDialogThroughTheWindow() {
        QTemporaryDir dir;
        QFile input(dir.filePath("report.html"));
        QVERIFY(input.open(QIODevice::WriteOnly));
        input.close();
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        WhenTheDialogOpens(
            [&](QFileDialog* shown) { TypeFileName(shown, dir.filePath("report.html")); });
        QTest::mouseClick(window.findChild<QPushButton*>("Command2"), Qt::LeftButton);
        QCOMPARE(window.GetPathText(PathBox::FileIn), dir.filePath("report.html"));
        QCOMPARE(window.GetPathText(PathBox::FileOut), dir.filePath("report.txt"));

        QStringList openedOn;
        QStringList offered;
        WhenTheDialogOpens([&](QFileDialog* shown) {
            openedOn = shown->selectedFiles();
            offered = shown->nameFilters();
            TypeFileName(shown, "new.txt");
        });
        QTest::mouseClick(window.findChild<QPushButton*>("Command3"), Qt::LeftButton);
        QCOMPARE(openedOn, QStringList{dir.filePath("report.html")});
        QCOMPARE(offered, (QStringList{"Text (*.txt)", "All Files (*.*)"}));
        QCOMPARE(window.GetPathText(PathBox::FileOut), dir.filePath("new.txt"));
        QCOMPARE(window.GetPathText(PathBox::FileIn), dir.filePath("report.html"));
        // The name box's list of completions closed with the dialog.
        for (QWidget* shown : QApplication::topLevelWidgets()) {
            QVERIFY(!shown->isVisible() || shown == &window);
        }
    }

    void realDialogFitsTheScreen() {
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QRect shown;
        QRect room;
        WhenTheDialogOpens([&](QFileDialog* dialog) {
            shown = dialog->frameGeometry();
            room = dialog->screen()->availableGeometry();
            dialog->reject();
        });
        QTest::mouseClick(window.findChild<QPushButton*>("Command2"), Qt::LeftButton);
        QVERIFY2(room.contains(shown), qPrintable(QString("%1x%2+%3+%4")
                                                      .arg(shown.width())
                                                      .arg(shown.height())
                                                      .arg(shown.x())
                                                      .arg(shown.y())));
    }

    // Qt keeps its dialogs' folder and history in the user's settings; the program
    // neither reads them nor leaves them there.
    void realDialogKeepsNoSettings() {
        QTemporaryDir remembered;
        const QString config =
            QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
        QVERIFY(config.endsWith("-config") && QDir().mkpath(config));
        const QByteArray settings = "[FileDialog]\nlastVisited=file://" +
                                    remembered.path().toUtf8() + "\nhistory=file://" +
                                    remembered.path().toUtf8() + "\n";
        QFile file(config + "/QtProject.conf");
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(settings) == settings.size());
        file.close();
        QString openedIn;
        {
            QWidget owner;
            FileOpenDialog dialog(&owner);
            WhenTheDialogOpens([&](QFileDialog* shown) {
                openedIn = shown->directory().path();
                shown->reject();
            });
            dialog.SetCancelError(true);
            QVERIFY_THROWS_EXCEPTION(DialogError, dialog.ShowOpen());
        }
        QVERIFY(openedIn != remembered.path());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), settings);
        QCOMPARE(QDir(config).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
                 QStringList{"QtProject.conf"});
    }
};

} // namespace velmora::ui

QTEST_MAIN(velmora::ui::TestFileChoosers)
#include "file_choosers_test.moc"
