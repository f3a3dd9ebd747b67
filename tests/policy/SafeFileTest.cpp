#include <gtest/gtest.h>
#include <sys/stat.h>

#include "FanCore/Policy/SafeFile.h"
#include "PolicyRoot.h"

namespace {

TEST(SafeFile, ReadAcceptsUpToTheLimitAndNoMore) {
    const PolicyRoot root;
    const struct {
        std::size_t size;
        bool readable;
    } cases[] = {{0, true},
                 {1, true},
                 {SafeFile::maxReadBytes, true},
                 {SafeFile::maxReadBytes + 1, false},
                 {4 * SafeFile::maxReadBytes, false}};
    for (const auto& c : cases) {
        const auto path = root.path() / ("file" + std::to_string(c.size));
        const std::string content(c.size, 'x');
        writeText(path, content);
        const std::optional<std::string> read = SafeFile::readBounded(path);
        EXPECT_EQ(read.has_value(), c.readable) << c.size;
        if (read) {
            EXPECT_EQ(*read, content);
        }
    }
}

TEST(SafeFile, ReadOfAMissingFileFails) {
    const PolicyRoot root;
    EXPECT_EQ(SafeFile::readBounded(root.path() / "missing"), std::nullopt);
}

TEST(SafeFile, WriteGetsTheWritersDefaultPermissions) {
    // A private temporary file would leave status.json unreadable for the application.
    const PolicyRoot root;
    const mode_t previous = ::umask(022);
    const auto written = SafeFile::writeAtomically(root.path() / "shared.json", "{}");
    ::umask(previous);
    ASSERT_TRUE(written.has_value()) << written.error();
    struct stat info {};
    ASSERT_EQ(::stat((root.path() / "shared.json").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0644u);

    // A file every user must read gets its mode whatever the writer's umask.
    const mode_t strict = ::umask(077);
    const auto published = SafeFile::writeAtomically(root.path() / "published.json", "{}",
                                                     {.mode = 0644, .syncFile = false});
    ::umask(strict);
    ASSERT_TRUE(published.has_value()) << published.error();
    ASSERT_EQ(::stat((root.path() / "published.json").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0644u);
}

TEST(SafeFile, WriteReplacesAndLeavesNothingElse) {
    const PolicyRoot root;
    const auto path = root.path() / "target.json";
    writeText(path, "old content that is longer than the new one");
    ASSERT_TRUE(SafeFile::writeAtomically(path, "new").has_value());
    EXPECT_EQ(readText(path), "new");
    EXPECT_EQ(entries(root.path()), std::vector<std::string>{"target.json"});
}

TEST(SafeFile, WriteReplacesASymbolicLinkInsteadOfItsTarget) {
    const PolicyRoot root;
    writeText(root.path() / "victim", "precious");
    std::filesystem::create_symlink(root.path() / "victim", root.path() / "target.json");
    ASSERT_TRUE(SafeFile::writeAtomically(root.path() / "target.json", "{}").has_value());
    EXPECT_EQ(readText(root.path() / "victim"), "precious");
    EXPECT_FALSE(std::filesystem::is_symlink(root.path() / "target.json"));
}

TEST(SafeFile, WriteOverAFolderFailsAndCleansUp) {
    const PolicyRoot root;
    std::filesystem::create_directories(root.path() / "target.json" / "inside");
    const auto written = SafeFile::writeAtomically(root.path() / "target.json", "{}");
    ASSERT_FALSE(written.has_value());
    EXPECT_NE(written.error().find((root.path() / "target.json").string()), std::string::npos);
    EXPECT_EQ(entries(root.path()), std::vector<std::string>{"target.json"});
}

}  // namespace
