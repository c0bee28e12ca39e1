#include "FolderPictures.h"

#include <pictura/Picture.h>

#include <QCollator>
#include <QDir>
#include <QFileInfo>

#include <algorithm>

QString NeighbourPicture(const QString& FileName, int Step) {
    const QFileInfo current(FileName);
    QStringList patterns;
    for (const QString& extension : TPicture::ReadableExtensions())
        patterns << "*." + extension;
    QDir folder = current.absoluteDir();
    folder.setNameFilters(patterns);
    folder.setFilter(QDir::Files | QDir::Readable);
    QStringList names = folder.entryList();
    if (!names.contains(current.fileName())) names << current.fileName();
    QCollator collator;
    collator.setNumericMode(true);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::sort(names.begin(), names.end(),
              [&](const QString& a, const QString& b) { return collator.compare(a, b) < 0; });
    const qsizetype at = names.indexOf(current.fileName()) + Step;
    if (at < 0 || at >= names.size()) return {};
    return folder.absoluteFilePath(names[at]);
}
