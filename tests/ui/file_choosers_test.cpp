// The two Browse buttons with Qt's real file dialog, as a user meets it; their steps are
// tested on the core with a scripted dialog.

#include "ui/common_dialog.h"
#include "ui/core/file_choosers.h"
#include "ui/main_window.h"

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

QString PathText(const MainWindow& window, PathBox box) {
    return QFile::decodeName(QByteArray::fromStdString(window.GetPathText(box)));
}

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
        QCOMPARE(PathText(window, PathBox::FileIn), dir.filePath("report.html"));
        QCOMPARE(PathText(window, PathBox::FileOut), dir.filePath("report.txt"));

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
        QCOMPARE(PathText(window, PathBox::FileOut), dir.filePath("new.txt"));
        QCOMPARE(PathText(window, PathBox::FileIn), dir.filePath("report.html"));
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
