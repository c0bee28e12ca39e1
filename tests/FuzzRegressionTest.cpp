// Replays the fuzz bodies over the inputs kept for them: the seed corpora in fuzz/corpus/ and the
// inputs that once broke something, in tests/data/fuzz-regressions/ (one folder per fuzz target).
#include "FuzzBodies.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

namespace fs = std::filesystem;

// Runs Body over every file under the target's folders; returns how many there were.
int Replay(const std::string& Target, void (*Body)(const uint8_t*, size_t)) {
    int count = 0;
    for (const fs::path& folder : {fs::path(PICTURA_TEST_DATA) / "fuzz-regressions" / Target,
                                   fs::path(PICTURA_FUZZ_CORPUS) / Target}) {
        if (!fs::is_directory(folder)) continue;
        for (const fs::directory_entry& entry : fs::recursive_directory_iterator(folder)) {
            if (!entry.is_regular_file()) continue;
            std::ifstream file(entry.path(), std::ios::binary);
            const std::vector<uint8_t> data{std::istreambuf_iterator<char>(file), {}};
            ++count;
            try {
                Body(data.data(), data.size());
            } catch (const std::exception& e) {
                ADD_FAILURE() << entry.path() << ": " << e.what();
            }
        }
    }
    return count;
}

} // namespace

TEST(FuzzRegression, LoadPicture) {
    EXPECT_GT(Replay("load-picture", FuzzLoadPicture), 0);
}

TEST(FuzzRegression, Operations) {
    EXPECT_GT(Replay("operations", FuzzOperations), 0);
}

TEST(FuzzRegression, CommandLine) {
    EXPECT_GT(Replay("command-line", FuzzCommandLine), 0);
}

TEST(FuzzRegression, EnvelopeFile) {
    EXPECT_GT(Replay("envelope-file", FuzzEnvelopeFile), 0);
}
