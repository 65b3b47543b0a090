#include "common_dialog.h"

#include "core_text.h"

#include <QAbstractItemView>
#include <QCompleter>
#include <QCoreApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QScreen>
#include <QSettings>
#include <QSortFilterProxyModel>
#include <QTemporaryFile>

#include <algorithm>

namespace velmora::ui {

struct FilterEntry {
    QString description;
    QList<QRegularExpression> patterns;
};

namespace {

// "*.*" means every file, names without a dot included, which the same glob on Linux
// would leave out.
QRegularExpression Pattern(const QString& glob) {
    const QString wildcard =
        glob.trimmed() == QLatin1String("*.*") ? QStringLiteral("*") : glob.trimmed();
    return QRegularExpression::fromWildcard(wildcard, Qt::CaseInsensitive);
}

QList<FilterEntry> ParseFilter(const QString& filter) {
    QList<FilterEntry> entries;
    if (filter.isEmpty()) {
        return entries;
    }
    const QStringList fields = filter.split(QLatin1Char('|'));
    for (qsizetype i = 0; i < fields.size(); i += 2) {
        FilterEntry entry{fields[i], {}};
        const QString globs = i + 1 < fields.size() ? fields[i + 1] : QStringLiteral("*.*");
        for (const QString& glob : globs.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            entry.patterns.append(Pattern(glob));
        }
        entries.append(entry);
    }
    return entries;
}

} // namespace

// Lists folders and the files that match the selected entry's patterns. The dialog's
// own name filtering is switched off: it would take the patterns from the parentheses
// of the description ("*.htm," from "HTML (*.htm, *.html)") and match case-sensitively.
class PatternFilter final : public QSortFilterProxyModel {
public:
    using QSortFilterProxyModel::QSortFilterProxyModel;

    void Use(const QList<FilterEntry>& entries, int index) {
        m_patterns = index >= 0 && index < entries.size() ? entries[index].patterns
                                                          : QList<QRegularExpression>{};
        if (auto* files = qobject_cast<QFileSystemModel*>(sourceModel())) {
            files->setNameFilters({});
        }
        invalidateFilter();
    }

protected:
    bool filterAcceptsRow(int row, const QModelIndex& parent) const override {
        auto* files = qobject_cast<QFileSystemModel*>(sourceModel());
        if (files == nullptr || m_patterns.isEmpty()) {
            return true;
        }
        const QModelIndex index = files->index(row, 0, parent);
        if (files->isDir(index)) {
            return true;
        }
        const QString name = files->fileName(index);
        for (const QRegularExpression& pattern : m_patterns) {
            if (pattern.match(name).hasMatch()) {
                return true;
            }
        }
        return false;
    }

private:
    QList<QRegularExpression> m_patterns;
};

namespace {

// Qt's file dialog reads its last folder, history and view from the user's settings
// when made and writes them back when destroyed, yet the program keeps nothing from one
// run to the next. Settings are therefore looked for below a plain file, where none can
// be read and none can be made.
void KeepNoSettings() {
    static QTemporaryFile standIn;
    static const bool done = [] {
        QString file = QCoreApplication::applicationFilePath();
        if (!QFileInfo(file).isFile() && standIn.open()) {
            file = standIn.fileName();
        }
        for (const QSettings::Format format : {QSettings::NativeFormat, QSettings::IniFormat}) {
            for (const QSettings::Scope scope : {QSettings::UserScope, QSettings::SystemScope}) {
                QSettings::setPath(format, scope, file + QStringLiteral("/no-settings"));
            }
        }
        return true;
    }();
    Q_UNUSED(done);
}

// Keeps the dialog, with its window frame, inside the screen's free area: on a small
// or highly scaled screen its own idea of its size can be larger. It opens centred over
// the window, moved as far as it takes to be whole on screen.
void FitScreen(QFileDialog& dialog, QWidget* owner) {
    QWidget* window = owner != nullptr ? owner->window() : nullptr;
    const QRect area =
        (window != nullptr ? window->screen() : dialog.screen())->availableGeometry();
    QSize frame;
    if (window != nullptr && window->isVisible()) {
        frame = window->frameGeometry().size() - window->geometry().size();
    }
    const QSize room = area.size() - frame;
    dialog.setMinimumSize(dialog.minimumSizeHint().boundedTo(room));
    dialog.setMaximumSize(room);
    const QSize wanted = dialog.testAttribute(Qt::WA_Resized) ? dialog.size() : dialog.sizeHint();
    dialog.resize(wanted.boundedTo(room));
    QRect outer(QPoint(), dialog.size() + frame);
    outer.moveCenter(window != nullptr ? window->frameGeometry().center() : area.center());
    outer.moveLeft(std::clamp(outer.left(), area.left(), area.right() + 1 - outer.width()));
    outer.moveTop(std::clamp(outer.top(), area.top(), area.bottom() + 1 - outer.height()));
    dialog.move(outer.topLeft());
}

} // namespace

FileOpenDialog::FileOpenDialog(QWidget* owner)
    : m_dialog((KeepNoSettings(), new QFileDialog(owner))),
      m_patterns(new PatternFilter(m_dialog)) {
    m_dialog->setObjectName(QStringLiteral("CommonDialog1"));
    m_dialog->setOption(QFileDialog::DontUseNativeDialog);
    m_dialog->setFileMode(QFileDialog::AnyFile);
    m_dialog->setAcceptMode(QFileDialog::AcceptOpen);
    m_dialog->setProxyModel(m_patterns);
    // The user picking another entry: the dialog applies its own reading of it first,
    // then this puts ours in its place.
    QObject::connect(m_dialog, &QFileDialog::filterSelected, m_dialog,
                     [this](const QString& description) { ListOnly(description); });
    // The list of completions for a typed name is a window of its own: left open when
    // Enter closes the dialog, it stays on screen and catches the next click. It is
    // closed with the dialog.
    if (auto* name = m_dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        name != nullptr && name->completer() != nullptr) {
        m_completions = name->completer()->popup();
    }
}

FileOpenDialog::~FileOpenDialog() = default;

void FileOpenDialog::SetFilter(const std::string& filter) {
    m_filter = QString::fromStdString(filter);
}

void FileOpenDialog::SetCancelError(bool cancelError) {
    m_cancelError = cancelError;
}

std::string FileOpenDialog::FileName() const {
    return CoreText(m_fileName);
}

void FileOpenDialog::ListOnly(const QString& description) {
    const QList<FilterEntry> entries = ParseFilter(m_filter);
    int index = 0;
    while (index < entries.size() && entries[index].description != description) {
        ++index;
    }
    m_patterns->Use(entries, index);
}

void FileOpenDialog::ShowOpen() {
    if (m_dialog.isNull()) {
        throw DialogError{-1, "the dialog is gone"};
    }
    const QList<FilterEntry> entries = ParseFilter(m_filter);
    QStringList descriptions;
    for (const FilterEntry& entry : entries) {
        descriptions.append(entry.description);
    }
    m_dialog->setNameFilters(descriptions);
    // The entry the user picked last stays picked, from one Browse button to the other.
    if (m_filterIndex >= descriptions.size()) {
        m_filterIndex = 0;
    }
    if (!descriptions.isEmpty()) {
        m_dialog->selectNameFilter(descriptions[m_filterIndex]);
        ListOnly(descriptions[m_filterIndex]);
    } else {
        m_patterns->Use({}, -1);
    }
    m_dialog->selectFile(m_fileName);
    FitScreen(*m_dialog, m_dialog->parentWidget());

    const int result = m_dialog->exec();
    if (m_completions != nullptr) {
        m_completions->hide();
    }
    m_filterIndex = std::max<qsizetype>(0, descriptions.indexOf(m_dialog->selectedNameFilter()));
    if (result != QDialog::Accepted) {
        if (m_cancelError) {
            throw DialogError{kCancelError, "Cancel was selected."};
        }
        return;
    }
    const QStringList chosen = m_dialog->selectedFiles();
    if (chosen.isEmpty()) {
        throw DialogError{-1, "no file was chosen"};
    }
    m_fileName = chosen.first();
}

} // namespace velmora::ui
