// velmora: the window program.

#include "module1.h"

#include "velmora/process.h"
#include "velmora/version.h"

#include <QApplication>
#include <QByteArray>
#include <QList>
#include <QStringList>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <utility>

namespace {

bool Set(const char* variable) {
    const char* value = std::getenv(variable);
    return value != nullptr && *value != '\0';
}

// The display the window was to open on, as the user would name it.
QByteArray DisplayName() {
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if (platform.startsWith("wayland") || (platform.isEmpty() && !Set("DISPLAY"))) {
        return Set("WAYLAND_DISPLAY") ? qgetenv("WAYLAND_DISPLAY") : QByteArray("wayland-0");
    }
    if (platform.isEmpty() || platform.startsWith("xcb")) {
        return qgetenv("DISPLAY");
    }
    return platform;
}

// Qt ends the program with an abort and a core dump when it cannot open the display, after
// several lines of its own. While the application starts, its messages are held back: a
// fatal one becomes one line and exit status 1, the others are passed on once it has
// started.
QList<std::pair<QtMsgType, QString>> g_heldMessages;

void HoldStartMessage(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtFatalMsg) {
        std::fprintf(stderr,
                     "velmora: cannot open the display \"%s\"; velmora-convert converts "
                     "from the command line (velmora-convert --help)\n",
                     DisplayName().constData());
        std::fflush(stderr);
        std::_Exit(1);
    }
    g_heldMessages.append({type, message});
}

// `velmora [--] [FILE]`: what Qt leaves of the command line, its own options taken out.
// An option of no one's is a usage mistake, said in one line; "--" ends the options, for a
// file whose name starts with "-".
std::optional<QStringList> Files(QStringList arguments) {
    arguments.removeFirst(); // the program's name
    QStringList files;
    bool options = true;
    for (const QString& argument : std::as_const(arguments)) {
        if (options && argument == QLatin1String("--")) {
            options = false;
        } else if (options && argument.startsWith('-') && argument != QLatin1String("-")) {
            std::fprintf(stderr, "velmora: unknown option \"%s\"\nUsage: velmora [--] [FILE]\n",
                         argument.toLocal8Bit().constData());
            return std::nullopt;
        } else {
            files.append(argument);
        }
    }
    return files;
}

} // namespace

int main(int argc, char** argv) {
    // Past a file-size limit, writing the output should fail with a message, not end the
    // program; closed by the desktop in the middle of writing, it leaves no file of its own.
    if (!velmora::StartProcess(velmora::Program::Window, argc, argv)) {
        return 1;
    }
    if (!velmora::DesktopAlwaysThere() && !Set("QT_QPA_PLATFORM") && !Set("DISPLAY") &&
        !Set("WAYLAND_DISPLAY")) {
        std::fputs("velmora: no display to open the window on; velmora-convert converts "
                   "from the command line (velmora-convert --help)\n",
                   stderr);
        return 1;
    }
    const QtMessageHandler previous = qInstallMessageHandler(HoldStartMessage);
    QApplication application(argc, argv);
    qInstallMessageHandler(previous);
    for (const auto& [type, message] : std::as_const(g_heldMessages)) {
        qt_message_output(type, QMessageLogContext(), message);
    }
    g_heldMessages.clear();

    QApplication::setApplicationName(QStringLiteral("Velmora"));
    QApplication::setApplicationVersion(QLatin1String(velmora::kVersion));
    QGuiApplication::setDesktopFileName(QStringLiteral("velmora"));
    const std::optional<QStringList> files = Files(QCoreApplication::arguments());
    if (!files) {
        return 2;
    }
    velmora::app::Main(*files);
    return QApplication::exec();
}
