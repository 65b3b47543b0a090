// The window's Convert command with every call the engine makes to the system failing in
// turn, once and from then on: the window ends ready with one message naming the file,
// or with the file written, and the earlier output is never torn.

#include "core/convert_command.h"
#include "core/convert_window.h"
#include "faults.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>

namespace velmora::ui {
namespace {

// Keeps what the command leaves the window with.
class Window final : public ConvertWindow {
public:
    QString fileIn;
    QString fileOut;
    QStringList messages;
    QString status;
    int disabled = 0;

    std::string GetPathText(PathBox box) const override {
        return QFile::encodeName(box == PathBox::FileIn ? fileIn : fileOut).toStdString();
    }
    void SetInputEnabled(Input, bool enabled) override { disabled += enabled ? -1 : 1; }
    void SetProgressVisible(bool) override {}
    void SetProgressMax(float) override {}
    void SetProgressValue(float) override {}
    void SetStatusText(const std::string& text) override { status = QString::fromStdString(text); }
    void ShowMessage(const std::string& message, const std::string& title) override {
        messages.append(QString::fromStdString(title + ": " + message));
    }
    void ShowFailure(const std::string& message, const std::string& title) override {
        ShowMessage(message, title);
    }
    void Beep() override {}
};

QByteArray Read(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void Write(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}

} // namespace

class TestWindowFaults : public QObject {
    Q_OBJECT

private slots:
    void everyCallFailingInTurn_data() {
        QTest::addColumn<QByteArray>("document");
        QTest::addColumn<bool>("old");
        const QByteArray deep =
            QByteArray("<dl>").repeated(300) + QByteArray("<dt>ab").repeated(300);
        const QByteArray large =
            "<dl>" +
            QByteArray("<dt>Term</dt>\r\n<dd><p>Its value, in words</dd>\r\n").repeated(120000);
        for (const bool old : {false, true}) {
            const char* over = old ? ", over an earlier output" : "";
            QTest::addRow("small%s", over)
                << QByteArray("<dl><dt>Title</dt><dd>Value</dd></dl>") << old;
            QTest::addRow("large%s", over) << large << old;
            QTest::addRow("deep%s", over) << deep << old;
        }
    }

    void everyCallFailingInTurn() {
        QFETCH(QByteArray, document);
        QFETCH(bool, old);
        QTemporaryDir dir;
        Window window;
        window.fileIn = dir.filePath("in.html");
        window.fileOut = dir.filePath("out.txt");
        Write(window.fileIn, document);

        // The clean run: what the output becomes and how many calls of each kind it takes.
        sys::DisarmFaults();
        ConvertCommand(window);
        const QByteArray expected = Read(window.fileOut);
        QVERIFY(window.messages.isEmpty());
        unsigned long counts[sys::kCallKinds];
        for (int kind = 0; kind < sys::kCallKinds; ++kind) {
            counts[kind] = sys::CallsMade(static_cast<sys::Call>(kind));
        }
        int cases = 0;
        for (int kind = 0; kind < sys::kCallKinds; ++kind) {
            for (unsigned long n = 1; n <= counts[kind]; ++n) {
                for (const bool persistent : {false, true}) {
                    QFile::remove(window.fileOut);
                    if (old) {
                        Write(window.fileOut, "the earlier output");
                    }
                    window.messages.clear();
                    window.status.clear();
                    window.disabled = 0;
                    sys::ArmFault({static_cast<sys::Call>(kind), n, EIO, persistent});
                    ConvertCommand(window);
                    sys::DisarmFaults();
                    ++cases;
                    const QString where = QStringLiteral("call kind %1, number %2%3")
                                              .arg(kind)
                                              .arg(n)
                                              .arg(persistent ? ", on" : "");
                    QVERIFY2(window.disabled == 0, qPrintable(where + ": the window is not ready"));
                    const QByteArray output = Read(window.fileOut);
                    if (window.messages.isEmpty()) {
                        QVERIFY2(output == expected, qPrintable(where + ": torn output"));
                        continue;
                    }
                    QCOMPARE(window.messages.size(), 1);
                    QVERIFY2(window.messages.front().startsWith("mVELMORA Error: Cannot ") &&
                                 window.messages.front().contains('"'),
                             qPrintable(where + ": " + window.messages.front()));
                    QVERIFY2(output == (old ? QByteArray("the earlier output") : QByteArray()),
                             qPrintable(where + ": the earlier output changed"));
                    QVERIFY2(QFile::exists(window.fileOut) == old, qPrintable(where));
                    QCOMPARE(window.status, QString("Select File to Convert"));
                }
                const QStringList entries =
                    QDir(dir.path())
                        .entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::Hidden);
                QVERIFY2(entries.size() <= 2, qPrintable(entries.join(", ")));
            }
        }
        qInfo("window fault sweep: %d cases", cases);
    }
};

} // namespace velmora::ui

QTEST_GUILESS_MAIN(velmora::ui::TestWindowFaults)
#include "window_sweep_test.moc"
