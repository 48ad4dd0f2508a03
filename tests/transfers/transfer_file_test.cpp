// The files of the transfers and the settings: a failure carries the
// system's number and names the file, and a replacement that is never put
// in place leaves the old file and the folder as they were.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "support/files.h"
#include "valdor/transfers/transfer_file.h"

namespace fs = std::filesystem;
using valdor::Replacement;
using valdor::TransferFile;

namespace {

TEST(TransferFile, AFailureCarriesTheSystemsNumberAndNamesTheFile) {
    testsupport::TempDir temp;
    TransferFile file;
    const std::string missing = temp.file("missing.prg");
    const auto notThere = file.openForReading(missing);
    ASSERT_FALSE(notThere);
    EXPECT_EQ(notThere.failure().error, ENOENT);
    EXPECT_NE(notThere.failure().why.find(missing), std::string::npos) << notThere.failure().why;

    const auto folder = file.openForReading(temp.path().string());
    ASSERT_FALSE(folder);
    EXPECT_EQ(folder.failure().error, EINVAL);
    EXPECT_EQ(folder.failure().why, temp.path().string() + " is not a regular file: Invalid argument");

    EXPECT_FALSE(file.isOpen());
    const uint8_t byte = 0x41;
    EXPECT_EQ(file.write(&byte, 1).failure().error, EBADF);
    EXPECT_EQ(file.read(nullptr, 1).failure().error, EBADF);
}

TEST(Replacement, OneNeverPutLeavesTheOldFileAndNothingElse) {
    testsupport::TempDir temp;
    const std::string path = temp.file("valdor.dat");
    std::ofstream(path) << "old";
    {
        auto replacement = Replacement::create(path);
        ASSERT_TRUE(replacement) << replacement.failure().why;
        EXPECT_EQ(std::distance(fs::directory_iterator(temp.path()), fs::directory_iterator()), 2)
            << "the new file waits beside the old one";
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(temp.path()), fs::directory_iterator()), 1);
    std::ifstream in(path);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "old");
}

}  // namespace
