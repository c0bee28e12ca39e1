#include "FolderPictures.h"

#include <pictura/Picture.h>

#include <QDir>
#include <QFileInfo>

#include <algorithm>

namespace {

// Whether A comes before B with runs of digits compared as numbers ("2" before "10") and the rest
// without regard to case; Qt's collator does this only where it is built with ICU.
bool NaturalLess(const QString& A, const QString& B) {
    qsizetype i = 0, j = 0;
    while (i < A.size() && j < B.size()) {
        if (A[i].isDigit() && B[j].isDigit()) {
            qsizetype endA = i, endB = j;
            while (endA < A.size() && A[endA].isDigit())
                ++endA;
            while (endB < B.size() && B[endB].isDigit())
                ++endB;
            // Without leading zeros, the longer number is the larger; equal lengths compare as text.
            QStringView numberA = QStringView(A).mid(i, endA - i), numberB = QStringView(B).mid(j, endB - j);
            while (numberA.size() > 1 && numberA.front() == u'0')
                numberA = numberA.mid(1);
            while (numberB.size() > 1 && numberB.front() == u'0')
                numberB = numberB.mid(1);
            if (numberA.size() != numberB.size()) return numberA.size() < numberB.size();
            if (const int order = numberA.compare(numberB); order != 0) return order < 0;
            i = endA;
            j = endB;
            continue;
        }
        const QChar a = A[i].toCaseFolded(), b = B[j].toCaseFolded();
        if (a != b) return a < b;
        ++i;
        ++j;
    }
    if ((A.size() - i) != (B.size() - j)) return A.size() - i < B.size() - j;
    return A < B; // names that differ only in case or leading zeros: a fixed order all the same
}

} // namespace

namespace {

// The names of the pictures in FileName's folder, FileName's among them, in the order shown.
QStringList FolderNames(const QString& FileName, QDir& Folder) {
    const QFileInfo current(FileName);
    QStringList patterns;
    for (const QString& extension : TPicture::ReadableExtensions())
        patterns << "*." + extension;
    Folder = current.absoluteDir();
    Folder.setNameFilters(patterns);
    Folder.setFilter(QDir::Files | QDir::Readable);
    QStringList names = Folder.entryList();
    if (!names.contains(current.fileName())) names << current.fileName();
    std::sort(names.begin(), names.end(), NaturalLess);
    return names;
}

} // namespace

QString NeighbourPicture(const QString& FileName, int Step) {
    QDir folder;
    const QStringList names = FolderNames(FileName, folder);
    const qsizetype at = names.indexOf(QFileInfo(FileName).fileName()) + Step;
    if (at < 0 || at >= names.size()) return {};
    return folder.absoluteFilePath(names[at]);
}

std::pair<int, int> FolderPosition(const QString& FileName) {
    QDir folder;
    const QStringList names = FolderNames(FileName, folder);
    if (!folder.exists()) return {0, 0};
    return {int(names.indexOf(QFileInfo(FileName).fileName())) + 1, int(names.size())};
}
