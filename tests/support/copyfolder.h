#pragma once

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QString>

// Copies every file below from to the same place below to, making the
// folders; false when one could not be copied. The roster's tests and the
// picture tool work on copies of the roster fixtures, never on them.
inline bool copyFolder(const QString &from, const QString &to)
{
    QDirIterator it(from, QDir::Files, QDirIterator::Subdirectories);
    bool ok = true;
    while (it.hasNext()) {
        const QString path = it.next();
        const QString target = to + path.mid(from.size());
        ok &= QDir().mkpath(QFileInfo(target).absolutePath()) && QFile::copy(path, target);
    }
    return ok;
}
