#include "module1.h"

#include "core/drop.h"
#include "core_text.h"
#include "main_window.h"

#include <QDir>
#include <QFileInfo>
#include <QPointer>
#ifdef Q_OS_WIN
#include <QLibrary>
#endif

#include <cstdint>
#include <vector>

namespace velmora::app {

namespace {

#ifdef Q_OS_WIN
// The record the library's initialiser takes: its own size, then the classes to set up.
struct InitCommonControlsRecord {
    std::uint32_t size;
    std::uint32_t classes;
};
static_assert(sizeof(InitCommonControlsRecord) == 8);

constexpr std::uint32_t kExtendedComboBoxClasses = 0x200;
#endif

QPointer<ui::MainWindow>& TheWindow() {
    static QPointer<ui::MainWindow> window;
    return window;
}

} // namespace

bool TryInitCommonControls() {
#ifdef Q_OS_WIN
    QLibrary library(QStringLiteral("comctl32"));
    using Initialiser = int (*)(const InitCommonControlsRecord*);
    const auto initialise = reinterpret_cast<Initialiser>(library.resolve("InitCommonControlsEx"));
    if (initialise == nullptr) {
        return false;
    }
    const InitCommonControlsRecord record{sizeof(InitCommonControlsRecord),
                                          kExtendedComboBoxClasses};
    initialise(&record);
    return true;
#else
    return false; // the library is Windows' own
#endif
}

void Main(const QStringList& files) {
    TryInitCommonControls();
    QPointer<ui::MainWindow>& window = TheWindow();
    if (window.isNull()) {
        window = new ui::MainWindow;
        window->setAttribute(Qt::WA_DeleteOnClose);
    }
    // Whole and clean, as the file dialog gives a path.
    std::vector<ui::DraggedItem> items;
    for (const QString& file : files) {
        const QFileInfo info(file);
        items.push_back({ui::CoreText(QDir::cleanPath(info.absoluteFilePath())), info.isDir()});
    }
    ui::StartedWith(*window, items);
    window->show();
}

ui::MainWindow* Window() {
    return TheWindow().data();
}

} // namespace velmora::app
