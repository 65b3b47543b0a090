#pragma once

#include <QFile>
#include <QString>

#include <string>

namespace velmora::ui {

// The window's texts as the core takes them. Paths are the file system's own bytes on
// Linux (QFile::encodeName), and UTF-8 on Windows, where the engine turns them into
// UTF-16 (encodeName would give the ANSI code page). The fixed texts are ASCII either way.
inline std::string CoreText(const QString& text) {
#ifdef _WIN32
    return text.toStdString();
#else
    return QFile::encodeName(text).toStdString();
#endif
}

inline QString QtText(const std::string& text) {
#ifdef _WIN32
    return QString::fromStdString(text);
#else
    return QFile::decodeName(QByteArray::fromStdString(text));
#endif
}

} // namespace velmora::ui
