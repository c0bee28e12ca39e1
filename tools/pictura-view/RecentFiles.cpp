#include "RecentFiles.h"

#include <QFileInfo>

namespace {

const QString Key = QStringLiteral("RecentFiles");

QString Absolute(const QString& FileName) {
    return QFileInfo(FileName).absoluteFilePath();
}

} // namespace

QStringList TRecentFiles::Files() const {
    return FSettings.value(Key).toStringList().mid(0, MaxCount);
}

void TRecentFiles::Add(const QString& FileName) {
    const QString path = Absolute(FileName);
    QStringList files = Files();
    files.removeAll(path);
    files.prepend(path);
    Store(files.mid(0, MaxCount));
}

void TRecentFiles::Remove(const QString& FileName) {
    QStringList files = Files();
    if (files.removeAll(Absolute(FileName)) > 0) Store(files);
}

void TRecentFiles::Clear() {
    Store({});
}

void TRecentFiles::Store(const QStringList& Files) {
    FSettings.setValue(Key, Files);
    FSettings.sync();
}
