// TRecentFiles: the most recently opened files, newest first, kept in the application's settings.
#pragma once

#include <QSettings>
#include <QStringList>

class TRecentFiles {
public:
    // How many files the list keeps.
    static constexpr int MaxCount = 8;

    // Reads and writes the list under the key "RecentFiles" of Settings, which must outlive this object.
    explicit TRecentFiles(QSettings& Settings) : FSettings(Settings) {}

    // The files, newest first, as absolute paths.
    QStringList Files() const;
    // Puts FileName first, dropping an older entry for the same file and the oldest beyond MaxCount.
    void Add(const QString& FileName);
    // Forgets FileName (for example after it could not be opened).
    void Remove(const QString& FileName);
    void Clear();

private:
    void Store(const QStringList& Files);

    QSettings& FSettings;
};
