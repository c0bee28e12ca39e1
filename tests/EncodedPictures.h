// Pictures encoded by Qt's writers in memory, for tests that feed files to the readers.
#pragma once

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageWriter>

#include <gtest/gtest.h>

// Image in Format ("png", "jpg", "gif", ...), progressive where the format has such a mode.
inline QByteArray Encode(const QImage& Image, const char* Format, bool Progressive = false) {
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, Format);
    writer.setProgressiveScanWrite(Progressive);
    EXPECT_TRUE(writer.write(Image)) << Format;
    return data;
}
