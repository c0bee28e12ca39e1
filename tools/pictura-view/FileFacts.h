// What the status bar tells about the open picture's file: its size and its place in its folder.
#pragma once

#include <QString>

struct TFileFacts {
    qint64 Bytes = -1; // -1: unknown
    int Position = 0;  // 1 for the folder's first picture; 0: unknown
    int Count = 0;     // the pictures in the folder

    // Reads them for FileName (lists its folder once).
    static TFileFacts Of(const QString& FileName);
};
