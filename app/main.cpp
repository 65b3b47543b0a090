// velmora: the window program.

#include "module1.h"

#include "engine/assemble.h"

#include <QApplication>

#include <csignal>
#include <cstdio>
#include <cstdlib>

namespace {

bool Set(const char* variable) {
    const char* value = std::getenv(variable);
    return value != nullptr && *value != '\0';
}

} // namespace

int main(int argc, char** argv) {
    // Past a file-size limit, writing the output should fail with a message, not end
    // the program.
    std::signal(SIGXFSZ, SIG_IGN);
    // Closed by the desktop in the middle of writing, the program leaves no file of its own.
    velmora::InstallInterruptCleanup();
    if (!Set("QT_QPA_PLATFORM") && !Set("DISPLAY") && !Set("WAYLAND_DISPLAY")) {
        std::fputs("velmora: no display to open the window on; velmora-convert converts "
                   "from the command line (velmora-convert --help)\n",
                   stderr);
        return 1;
    }
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Velmora"));
    QApplication::setApplicationVersion(QStringLiteral("1.0"));
    QGuiApplication::setDesktopFileName(QStringLiteral("velmora"));
    velmora::app::Main();
    return QApplication::exec();
}
