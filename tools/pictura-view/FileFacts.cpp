#include "FileFacts.h"

#include "FolderPictures.h"

#include <QFileInfo>

TFileFacts TFileFacts::Of(const QString& FileName) {
    TFileFacts facts;
    const QFileInfo file(FileName);
    if (file.exists()) facts.Bytes = file.size();
    const auto [position, count] = FolderPosition(FileName);
    facts.Position = position;
    facts.Count = count;
    return facts;
}
