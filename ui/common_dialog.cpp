#include "common_dialog.h"

#include <QFileDialog>
#include <QFileSystemModel>
#include <QRegularExpression>
#include <QSortFilterProxyModel>

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
    const QString wildcard = glob.trimmed() == QLatin1String("*.*") ? QStringLiteral("*") : glob.trimmed();
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

FileOpenDialog::FileOpenDialog(QWidget* owner)
    : m_dialog(new QFileDialog(owner)), m_patterns(new PatternFilter(m_dialog)) {
    m_dialog->setObjectName(QStringLiteral("CommonDialog1"));
    m_dialog->setOption(QFileDialog::DontUseNativeDialog);
    m_dialog->setFileMode(QFileDialog::AnyFile);
    m_dialog->setAcceptMode(QFileDialog::AcceptOpen);
    m_dialog->setProxyModel(m_patterns);
    // The user picking another entry: the dialog applies its own reading of it first,
    // then this puts ours in its place.
    QObject::connect(m_dialog, &QFileDialog::filterSelected, m_dialog,
                     [this](const QString& description) { ListOnly(description); });
}

FileOpenDialog::~FileOpenDialog() = default;

void FileOpenDialog::SetFilter(const QString& filter) { m_filter = filter; }

void FileOpenDialog::SetCancelError(bool cancelError) { m_cancelError = cancelError; }

QString FileOpenDialog::FileName() const { return m_fileName; }

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
        throw DialogError{-1, QStringLiteral("the dialog is gone")};
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

    const int result = m_dialog->exec();
    m_filterIndex = std::max<qsizetype>(0, descriptions.indexOf(m_dialog->selectedNameFilter()));
    if (result != QDialog::Accepted) {
        if (m_cancelError) {
            throw DialogError{kCancelError, QStringLiteral("Cancel was selected.")};
        }
        return;
    }
    const QStringList chosen = m_dialog->selectedFiles();
    if (chosen.isEmpty()) {
        throw DialogError{-1, QStringLiteral("no file was chosen")};
    }
    m_fileName = chosen.first();
}

} // namespace velmora::ui
