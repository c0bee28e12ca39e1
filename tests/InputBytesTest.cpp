// A mapped input whose file is cut short by someone else while it is read: the missing pages read as
// zeros and the input says it is damaged, instead of the process dying of SIGBUS.
#include "InputFile.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

TEST(InputBytes, AFileCutShortWhileMappedIsDamagedNotFatal) {
    QTemporaryDir dir;
    const std::string path = dir.filePath("cut.bin").toStdString();
    const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    const std::string bytes(3 * 4096, 'x');
    ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), ssize_t(bytes.size()));
    const TInputBytes input = OpenInputFile(QString::fromStdString(path), 1 << 20);
    ASSERT_EQ(input.Size(), bytes.size());
    EXPECT_EQ(input.Data()[0], 'x');
    EXPECT_FALSE(input.Damaged());
    ASSERT_EQ(::ftruncate(fd, 4096), 0);
    ::close(fd);
    input.ReleaseRead(); // the first page comes again from the file, the last no longer exists
    EXPECT_EQ(input.Data()[0], 'x');
    EXPECT_EQ(input.Data()[bytes.size() - 1], 0);
    EXPECT_TRUE(input.Damaged());
}
