#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <limits>

#include "FanCore/Policy/Config.h"
#include "FanCore/Policy/Paths.h"
#include "PolicyRoot.h"

namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();

Config make(double boost, bool batteryCooling, double batteryTarget, bool batteryOnlyOnAC,
            bool manualMode, double manualRPM) {
    return Config{boost, batteryCooling, batteryTarget, batteryOnlyOnAC, manualMode, manualRPM};
}

struct LoadCase {
    const char* name;
    std::optional<std::string> file;  // std::nullopt: no file at all
    Config expected;
};

TEST(Config, Load) {
    const Config defaults;
    const LoadCase cases[] = {
        {"no file", std::nullopt, defaults},
        {"empty file", "", defaults},
        {"empty object", "{}", make(0, false, 33, true, false, 2500)},
        {"partial", R"({"boost":0.4,"manualMode":true})", make(0.4, false, 33, true, true, 2500)},
        {"every member",
         R"({"boost":0.25,"batteryCooling":true,"batteryTarget":40,"batteryOnlyOnAC":false,)"
         R"("manualMode":true,"manualRPM":3000})",
         make(0.25, true, 40, false, true, 3000)},
        {"any order and white space", "{ \"manualRPM\" : 3100 ,\n \"boost\" : 0.5 }",
         make(0.5, false, 33, true, false, 3100)},
        {"target too high", R"({"batteryTarget":50})", make(0, false, 45, true, false, 2500)},
        {"target too low", R"({"batteryTarget":10})", make(0, false, 25, true, false, 2500)},
        {"speed too high", R"({"manualRPM":12000})", make(0, false, 33, true, false, 10000)},
        {"speed negative", R"({"manualRPM":-5})", make(0, false, 33, true, false, 0)},
        {"boost too high", R"({"boost":1.7})", make(1, false, 33, true, false, 2500)},
        {"boost negative", R"({"boost":-0.3})", defaults},
        {"null takes the default", R"({"boost":0.5,"batteryOnlyOnAC":null,"manualRPM":null})",
         make(0.5, false, 33, true, false, 2500)},
        {"unknown keys ignored", R"({"boost":0.5,"fanCount":2,"extra":{"a":[1,2]}})",
         make(0.5, false, 33, true, false, 2500)},
        {"string for a number", R"({"boost":"0.5","manualMode":true})", defaults},
        {"Boolean for a number", R"({"boost":true,"manualMode":true})", defaults},
        {"number for a Boolean", R"({"boost":0.5,"manualMode":1})", defaults},
        {"string for a Boolean", R"({"boost":0.5,"batteryCooling":"true"})", defaults},
        {"object for a number", R"({"boost":0.5,"manualRPM":{}})", defaults},
        {"not JSON", "boost = 0.5", defaults},
        {"truncated", R"({"boost":0.5,"manualMode":tr)", defaults},
        {"array", R"([{"boost":0.5}])", defaults},
        {"bare number", "0.5", defaults},
        {"number beyond a double", R"({"boost":0.5,"manualRPM":1e999})", defaults},
        {"negative number beyond a double", R"({"boost":0.5,"batteryTarget":-1e999})", defaults},
        {"huge integer is still a number", R"({"manualRPM":123456789012345678901234567890})",
         make(0, false, 33, true, false, 10000)},
        {"NaN literal", R"({"boost":NaN})", defaults},
        {"trailing garbage", R"({"boost":0.5} x)", defaults},
        {"invalid UTF-8", "{\"boost\":0.5,\"name\":\"\xff\xfe\"}", defaults},
    };
    for (const LoadCase& c : cases) {
        const PolicyRoot root;
        if (c.file) writeText(Paths::config(), *c.file);
        EXPECT_EQ(Config::load(), c.expected) << c.name;
    }
}

TEST(Config, SanitizedReplacesNonFiniteAndClamps) {
    const Config wild = make(nan, true, inf, false, true, -inf);
    EXPECT_EQ(wild.sanitized(), make(0, true, 33, false, true, 2500));
    const Config high = make(2, false, 100, true, false, 1e9);
    EXPECT_EQ(high.sanitized(), make(1, false, 45, true, false, 10000));
    const Config inRange = make(0.3, true, 30, false, true, 4000);
    EXPECT_EQ(inRange.sanitized(), inRange);
}

TEST(Config, EncodeIsCompactAndComplete) {
    const Config config = make(0.3, true, 38.5, false, true, 4200);
    const std::string text = config.encode();
    EXPECT_EQ(text.find_first_of(" \n\t"), std::string::npos) << text;
    for (const char* key : {"\"boost\":", "\"batteryCooling\":true", "\"batteryTarget\":",
                            "\"batteryOnlyOnAC\":false", "\"manualMode\":true", "\"manualRPM\":"}) {
        EXPECT_NE(text.find(key), std::string::npos) << key << " in " << text;
    }
    EXPECT_EQ(Config::decode(text), config);
    EXPECT_EQ(Config::decode(Config{}.encode()), Config{});
}

TEST(Config, SaveAndLoadRoundTrip) {
    const PolicyRoot root;
    const Config config = make(0.65, true, 41.25, false, false, 3333.5);
    ASSERT_TRUE(config.save().has_value());
    EXPECT_EQ(Config::load(), config);
    EXPECT_EQ(entries(Paths::dir()), std::vector<std::string>{"config.json"});
}

TEST(Config, SaveWritesUnsanitisedValues) {
    const PolicyRoot root;
    Config config;
    config.manualRPM = 20000;
    ASSERT_TRUE(config.save().has_value());
    EXPECT_EQ(Config::decode(readText(Paths::config())), config);
    EXPECT_EQ(Config::load().manualRPM, 10000);
}

TEST(Config, SaveCreatesTheFolderWithParents) {
    const PolicyRoot root;
    ASSERT_FALSE(std::filesystem::exists(root.path() / "var"));
    ASSERT_TRUE(Config{}.save().has_value());
    EXPECT_TRUE(std::filesystem::is_regular_file(Paths::config()));
    ASSERT_TRUE(Config{}.save().has_value()) << "an existing folder is no error";
}

TEST(Config, SaveLeavesFolderPermissionsAlone) {
    const PolicyRoot root;
    std::filesystem::create_directories(Paths::dir());
    ASSERT_EQ(::chmod(Paths::dir().c_str(), 01777), 0);
    ASSERT_TRUE(Config{}.save().has_value());
    struct stat info {};
    ASSERT_EQ(::stat(Paths::dir().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 01777u);
}

TEST(Config, SavedFileIsReadableByAllUnderAPrivateUmask) {
    // The root daemon holds no capability to read a file that only its owner may read.
    const PolicyRoot root;
    const mode_t previous = ::umask(077);
    const auto saved = Config{}.save();
    ::umask(previous);
    ASSERT_TRUE(saved.has_value()) << saved.error();
    struct stat info {};
    ASSERT_EQ(::stat(Paths::config().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0644u);
}

TEST(Config, SaveReportsAFolderThatCannotBeCreated) {
    const PolicyRoot root;
    writeText(Paths::dir().parent_path(), "a file where a folder belongs");
    const auto saved = Config{}.save();
    ASSERT_FALSE(saved.has_value());
    EXPECT_NE(saved.error().find(Paths::dir().string()), std::string::npos) << saved.error();
}

TEST(Config, SaveRefusesNonFiniteNumbers) {
    const PolicyRoot root;
    const Config old = make(0.5, false, 33, true, false, 2500);
    ASSERT_TRUE(old.save().has_value());
    for (const double bad : {nan, inf, -inf}) {
        Config config;
        config.batteryTarget = bad;
        const auto saved = config.save();
        ASSERT_FALSE(saved.has_value());
        EXPECT_NE(saved.error().find("batteryTarget"), std::string::npos) << saved.error();
    }
    EXPECT_EQ(Config::load(), old);
}

// Lowers the file-size limit so that writing the new content fails halfway, as a full disk would.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        previousHandler_ = ::signal(SIGXFSZ, SIG_IGN);
        rlimit lowered = saved_;
        lowered.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &lowered);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &saved_);
        ::signal(SIGXFSZ, previousHandler_);
    }

  private:
    rlimit saved_{};
    sighandler_t previousHandler_;
};

TEST(Config, FailedSaveKeepsTheOldFileAndNoTemporary) {
    const PolicyRoot root;
    const Config old = make(0.5, true, 40, false, false, 2500);
    ASSERT_TRUE(old.save().has_value());
    const std::string before = readText(Paths::config());

    std::expected<void, std::string> saved;
    {
        const FileSizeLimit limit(16);
        saved = make(0.9, false, 30, true, true, 9000).save();
    }
    ASSERT_FALSE(saved.has_value());
    EXPECT_NE(saved.error().find(Paths::config().string()), std::string::npos) << saved.error();
    EXPECT_NE(saved.error().find("File too large"), std::string::npos) << saved.error();
    EXPECT_EQ(readText(Paths::config()), before);
    EXPECT_EQ(Config::load(), old);
    EXPECT_EQ(entries(Paths::dir()), std::vector<std::string>{"config.json"});
}

// Someone else's file in the shared folder must never stall or feed the daemon.
TEST(Config, HostileFilesLoadAsDefaults) {
    const struct {
        const char* name;
        void (*plant)(const std::filesystem::path& config, const std::filesystem::path& root);
    } cases[] = {
        {"FIFO without a writer",
         [](const std::filesystem::path& config, const std::filesystem::path&) {
             ASSERT_EQ(::mkfifo(config.c_str(), 0666), 0);
         }},
        {"symbolic link to a large file",
         [](const std::filesystem::path& config, const std::filesystem::path& root) {
             const std::string big = "{\"boost\":0.7," + std::string(1 << 20, ' ') + "}";
             writeText(root / "big.json", big);
             std::filesystem::create_symlink(root / "big.json", config);
         }},
        {"symbolic link to a valid file",
         [](const std::filesystem::path& config, const std::filesystem::path& root) {
             writeText(root / "other.json", R"({"boost":0.7})");
             std::filesystem::create_symlink(root / "other.json", config);
         }},
        {"symbolic link to an endless device",
         [](const std::filesystem::path& config, const std::filesystem::path&) {
             std::filesystem::create_symlink("/dev/zero", config);
         }},
        {"100 MiB sparse file",
         [](const std::filesystem::path& config, const std::filesystem::path&) {
             writeText(config, R"({"boost":0.7})");
             std::filesystem::resize_file(config, 100u << 20);
         }},
        {"folder", [](const std::filesystem::path& config,
                      const std::filesystem::path&) { std::filesystem::create_directory(config); }},
    };
    for (const auto& c : cases) {
        const PolicyRoot root;
        std::filesystem::create_directories(Paths::dir());
        c.plant(Paths::config(), root.path());
        EXPECT_EQ(Config::load(), Config{}) << c.name;
    }
}

}  // namespace
