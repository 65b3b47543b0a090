#pragma once

// Whole-file helpers for the window's tests.

#include <QByteArray>
#include <QFile>
#include <QTest>

namespace velmora::ui::test {

inline void Write(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
}

inline QByteArray Read(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

} // namespace velmora::ui::test
