// The Convert command against a window that only records what is asked of it, so that
// the order of every call can be checked.

#include "convert_command.h"
#include "convert_window.h"
#include "files.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace velmora::ui {
namespace {

using test::Read;
using test::Write;

const char* Name(Input input) {
    static const char* const names[] = {"FileIn", "FileOut", "Command1", "Command2", "Command3"};
    return names[static_cast<int>(input)];
}

class RecordingWindow final : public ConvertWindow {
public:
    QString fileIn;
    QString fileOut;
    mutable QStringList calls;

    QString GetPathText(PathBox box) const override {
        calls.append(box == PathBox::FileIn ? "GetPathText FileIn" : "GetPathText FileOut");
        return box == PathBox::FileIn ? fileIn : fileOut;
    }
    void SetInputEnabled(Input input, bool enabled) override {
        calls.append(
            QStringLiteral("SetInputEnabled %1 %2").arg(Name(input), enabled ? "on" : "off"));
    }
    void SetProgressVisible(bool visible) override {
        calls.append(visible ? "SetProgressVisible on" : "SetProgressVisible off");
    }
    void SetProgressMax(float max) override {
        calls.append(QStringLiteral("SetProgressMax %1").arg(max));
    }
    void SetProgressValue(float value) override {
        calls.append(QStringLiteral("SetProgressValue %1").arg(value));
    }
    void SetStatusText(const QString& text) override { calls.append("SetStatusText " + text); }
    void ShowMessage(const QString& message, const QString& title) override {
        calls.append("ShowMessage " + title + ": " + message);
    }
    void Beep() override { calls.append("Beep"); }
};

QStringList Inputs(const char* state) {
    QStringList lines;
    for (const Input input : kInputs) {
        lines.append(QStringLiteral("SetInputEnabled %1 %2").arg(Name(input), state));
    }
    return lines;
}

} // namespace

class TestConvertCommand : public QObject {
    Q_OBJECT

private slots:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        m_window = {};
        m_window.fileIn = m_dir->filePath("in.html");
        m_window.fileOut = m_dir->filePath("out.txt");
    }

    void convertsTheSmallestDocumentCallByCall() {
        Write(m_window.fileIn, "<dl><dt>Title</dt><dd>Value</dd></dl>");
        ConvertCommand(m_window);
        const QStringList expected =
            QStringList{"GetPathText FileIn", "SetProgressVisible on"} + Inputs("off") +
            QStringList{"GetPathText FileOut", "SetProgressMax 28",   "SetProgressValue 4",
                        "SetProgressValue 13", "SetProgressValue 12", "SetProgressValue 23",
                        "SetProgressValue 28"} +
            Inputs("on") +
            QStringList{"SetStatusText File Successfully Processed", "Beep",
                        "SetProgressVisible off"};
        QCOMPARE(m_window.calls, expected);
        QCOMPARE(Read(m_window.fileOut), QByteArray("\r\n  Title\r\n    Value"));
    }

    void emptyInputBoxDoesNothing() {
        m_window.fileIn.clear();
        ConvertCommand(m_window);
        QCOMPARE(m_window.calls, QStringList{"GetPathText FileIn"});
    }

    void emptyFileDoesNothing() {
        Write(m_window.fileIn, "");
        Write(m_window.fileOut, "earlier");
        ConvertCommand(m_window);
        QCOMPARE(m_window.calls, QStringList{"GetPathText FileIn"});
        QCOMPARE(Read(m_window.fileOut), QByteArray("earlier"));
    }

    void refusedDocumentGetsTheMessageAlone() {
        Write(m_window.fileIn, "<dl><dt>zoak METADATA report\r\ngenerated</dt></dl>");
        ConvertCommand(m_window);
        const QStringList expected{
            "GetPathText FileIn",
            "ShowMessage mVELMORA Error: ZOAK Metadata Generated HTML Reports Not Supported"};
        QCOMPARE(m_window.calls, expected);
        QVERIFY(!QFile::exists(m_window.fileOut));
    }

    // A box of spaces is a path like any other: it is tried, and fails as a file.
    void spacesInTheInputBoxAreAPath() {
        m_window.fileIn = "   ";
        ConvertCommand(m_window);
        const QStringList expected{
            "GetPathText FileIn",
            "ShowMessage mVELMORA Error: Cannot read \"   \": No such file or directory."};
        QCOMPARE(m_window.calls, expected);
    }

    void unreadableInputIsReportedBeforeAnythingChanges() {
        m_window.fileIn = m_dir->path();
        ConvertCommand(m_window);
        const QStringList expected{"GetPathText FileIn",
                                   "ShowMessage mVELMORA Error: Cannot read \"" + m_dir->path() +
                                       "\": Is a directory."};
        QCOMPARE(m_window.calls, expected);
    }

    void unusableOutput_data() {
        QTest::addColumn<QString>("output");
        QTest::addColumn<QString>("message");
        QTest::newRow("in a missing folder")
            << "missing/out.txt"
            << "Cannot write \"%1/missing/out.txt\": No such file or directory.";
        QTest::newRow("a folder") << "."
                                  << "Cannot write \"%1/.\": Is a directory.";
        QTest::newRow("empty") << ""
                               << "Cannot write: no output file was named.";
    }

    // After a failed write the window is ready again, the status is what it was, no
    // beep sounds and nothing is left at the output path.
    void unusableOutput() {
        QFETCH(QString, output);
        QFETCH(QString, message);
        m_window.fileOut = output.isEmpty() ? QString() : m_dir->filePath(output);
        Write(m_window.fileIn, "<dl><dt>Title</dt></dl>");
        ConvertCommand(m_window);
        const QStringList tail = m_window.calls.mid(m_window.calls.indexOf("GetPathText FileOut"));
        const QStringList expected = QStringList{"GetPathText FileOut"} + Inputs("on") +
                                     QStringList{"SetProgressVisible off",
                                                 "ShowMessage mVELMORA Error: " +
                                                     QString(message).replace("%1", m_dir->path())};
        QCOMPARE(tail, expected);
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
                 QStringList{"in.html"});
    }

    void neverWritesOverItsInput_data() {
        QTest::addColumn<QString>("output");
        QTest::newRow("the same path") << "in.html";
        QTest::newRow("the same path written another way") << "./sub/../in.html";
        QTest::newRow("a hard link to it") << "hard.txt";
        QTest::newRow("a symbolic link to it") << "soft.txt";
    }

    // The document would be lost: the command says so and leaves the window ready.
    void neverWritesOverItsInput() {
        QFETCH(QString, output);
        const QByteArray document = "<dl><dt>Title</dt></dl>";
        Write(m_window.fileIn, document);
        QVERIFY(QDir(m_dir->path()).mkdir("sub"));
        QCOMPARE(::link(qPrintable(m_window.fileIn), qPrintable(m_dir->filePath("hard.txt"))), 0);
        QVERIFY(QFile::link(m_window.fileIn, m_dir->filePath("soft.txt")));
        m_window.fileOut = m_dir->filePath(output);
        ConvertCommand(m_window);
        const QStringList expected =
            Inputs("on") + QStringList{"SetProgressVisible off",
                                       "ShowMessage mVELMORA Error: Cannot write \"" +
                                           m_window.fileOut + "\": it is the input file."};
        QCOMPARE(m_window.calls.mid(m_window.calls.size() - 7), expected);
        QCOMPARE(Read(m_window.fileIn), document);
    }

    void progressBindingPassesEveryCall() {
        ProgressBinding binding(m_window);
        binding.SetMax(10.0f);
        binding.SetMax(3.5f);
        binding.SetValue(99.0f);
        QCOMPARE(m_window.calls,
                 (QStringList{"SetProgressMax 10", "SetProgressMax 3.5", "SetProgressValue 99"}));
    }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    RecordingWindow m_window;
};

} // namespace velmora::ui

QTEST_GUILESS_MAIN(velmora::ui::TestConvertCommand)
#include "convert_command_test.moc"
