#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <set>

#include "FanCore/Sensors/Chip.h"
#include "FanCore/Sensors/Sensors.h"
#include "SimTestSupport.h"

namespace {

const SimKey* keyNamed(const SimProfile& profile, std::string_view name) {
    for (const SimKey& key : profile.keys) {
        if (key.name == SimCodec::unpack(SimCodec::pack(name))) return &key;
    }
    return nullptr;
}

struct Expected {
    const char* name;
    int fans;
    bool ftst;
    const char* temperatureType;
    const char* brandFragment;
    std::set<std::string> groups;  // SMC key groups the system finds on this machine
    const char* fanType = "flt ";
    SimLayout layout = SimLayout::socket;
};

// Names the case in test output, where gtest would otherwise dump the struct's bytes.
inline void PrintTo(const Expected& c, std::ostream* out) { *out << c.name; }

class SimBuiltinProfile : public ::testing::TestWithParam<Expected> {};

TEST_P(SimBuiltinProfile, PublishesKeysAsRealMachinesDo) {
    const Expected& e = GetParam();
    const SimProfile::Loaded loaded = SimProfile::load(e.name);
    ASSERT_TRUE(loaded.profile) << loaded.error;
    const SimProfile& profile = *loaded.profile;
    EXPECT_NE(profile.brand.find(e.brandFragment), std::string::npos) << profile.brand;

    const SimKey* count = keyNamed(profile, "#KEY");
    ASSERT_NE(count, nullptr);
    EXPECT_EQ(count->type, "ui32");
    EXPECT_EQ(count->bytes.size(), 4u);
    const SimKey* fanCount = keyNamed(profile, "FNum");
    ASSERT_NE(fanCount, nullptr);
    EXPECT_EQ(fanCount->type, "ui8 ");
    EXPECT_EQ(SimCodec::decode(fanCount->type, fanCount->bytes), e.fans);
    EXPECT_EQ(keyNamed(profile, "Ftst") != nullptr, e.ftst);

    for (int i = 0; i < e.fans; ++i) {
        const std::string f = "F" + std::to_string(i);
        for (const char* suffix : {"Ac", "Mn", "Mx", "Tg"}) {
            const SimKey* key = keyNamed(profile, f + suffix);
            ASSERT_NE(key, nullptr) << f << suffix;
            EXPECT_EQ(key->type, e.fanType) << f << suffix;
            EXPECT_EQ(key->bytes.size(), SimCodec::naturalSize(e.fanType));
        }
        const SimKey* mode = keyNamed(profile, f + "Md");
        ASSERT_NE(mode, nullptr);
        EXPECT_EQ(mode->type, "ui8 ");
        EXPECT_TRUE(mode->writable && keyNamed(profile, f + "Tg")->writable);
        EXPECT_FALSE(keyNamed(profile, f + "Ac")->writable);
    }
    EXPECT_EQ(keyNamed(profile, ("F" + std::to_string(e.fans) + "Ac").c_str()), nullptr);

    // The system's own grouping rules find the groups this machine is meant to show.
    const auto generation = Chip::generationOf(profile.brand);
    std::set<std::string> groups;
    for (const SimKey& key : profile.keys) {
        if (!key.follow || !key.indexed) continue;
        EXPECT_EQ(key.type, e.temperatureType) << key.name;
        if (auto group = Sensors::groupFor(key.name, generation)) groups.insert(*group);
    }
    EXPECT_EQ(groups, e.groups);
    EXPECT_EQ(profile.layout, e.layout);
    EXPECT_TRUE(profile.warnings.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Machines, SimBuiltinProfile,
    ::testing::Values(Expected{"mbp14-m3pro",
                               2,
                               true,
                               "flt ",
                               "Apple M3 Pro",
                               {"cpu", "gpu", "ssd", "battery", "air", "wifi", "palm"}},
                      Expected{"mba13-m2",
                               0,
                               false,
                               "flt ",
                               "Apple M2",
                               {"cpu", "gpu", "ssd", "battery", "wifi", "palm"}},
                      Expected{"mbp16-intel-t2",
                               2,
                               false,
                               "sp78",
                               "Intel(R) Core(TM) i9",
                               {"cpu", "ssd", "battery", "air", "wifi", "palm"}},
                      Expected{"mbp13-intel-applesmc",
                               1,
                               false,
                               "sp78",
                               "Intel(R) Core(TM) i5",
                               {"cpu", "ssd", "battery", "air", "wifi", "palm"},
                               "fpe2",
                               SimLayout::applesmc}),
    [](const auto& c) {
        std::string name = c.param.name;
        std::replace(name.begin(), name.end(), '-', '_');
        return name;
    });

TEST(SimProfile, HiddenKeysAnswerByNameOnly) {
    const SimProfile::Loaded loaded = SimProfile::load("mbp14-m3pro");
    ASSERT_TRUE(loaded.profile);
    size_t hidden = 0;
    for (const SimKey& key : loaded.profile->keys) hidden += key.indexed ? 0 : 1;
    EXPECT_GE(hidden, 1u);
    SimMachine machine(*loaded.profile);
    EXPECT_EQ(machine.value("#KEY"), static_cast<double>(loaded.profile->keys.size() - hidden));
}

struct Broken {
    const char* name;
    const char* json;
    const char* complaint;
};

inline void PrintTo(const Broken& c, std::ostream* out) { *out << c.name; }

class SimProfileBroken : public ::testing::TestWithParam<Broken> {};

TEST_P(SimProfileBroken, IsRefusedWithTheSourceAndTheProblem) {
    const SimProfile::Loaded loaded = SimProfile::parse(GetParam().json, "my.json");
    EXPECT_FALSE(loaded.profile);
    EXPECT_TRUE(loaded.error.starts_with("my.json: ")) << loaded.error;
    EXPECT_NE(loaded.error.find(GetParam().complaint), std::string::npos) << loaded.error;
}

#define KEYS(x) R"({"brand": "b", "keys": [)" x "]}"

INSTANTIATE_TEST_SUITE_P(
    Cases, SimProfileBroken,
    ::testing::Values(
        Broken{"NotJson", "{\"brand\": ", "not valid JSON"},
        Broken{"NotObject", "[]", "must hold a JSON object"},
        Broken{"NoBrand", R"({"keys": []})", "missing \"brand\""},
        Broken{"BrandNotText", R"({"brand": 3, "keys": []})", "\"brand\" must be text"},
        Broken{"NoKeys", R"({"brand": "b"})", "\"keys\" must be an array"},
        Broken{"UnknownLayout", R"({"brand": "b", "keys": [], "layout": "fuse"})",
               "\"layout\" must be \"socket\", \"applesmc\" or \"macsmc_hwmon\""},
        Broken{"AppleDriverOnIntel",
               R"({"brand": "b", "keys": [], "arch": "x86_64", "layout": "macsmc_hwmon"})",
               "layout \"macsmc_hwmon\" is the Apple-silicon driver; this machine is x86_64"},
        Broken{"SlowerThanASecond", R"({"brand": "b", "keys": [], "latencyMs": 1500})",
               "\"latencyMs\" must lie between 0 and 1000"},
        Broken{"BadHex", KEYS(R"({"key": "F0Ac", "type": "flt ", "bytes": "00 8"})"),
               "keys[0] (\"F0Ac\"): \"bytes\" must be hex pairs"},
        Broken{"SizeMismatch",
               KEYS(R"({"key": "F0Ac", "type": "flt ", "bytes": "00 80", "size": 4})"),
               "holds 2 bytes but \"size\" is 4"},
        Broken{"TooManyBytes", KEYS(R"({"key": "BIGK", "type": "ch8*", "size": 256})"),
               "\"size\" must lie between 0 and 255"},
        Broken{"Duplicate",
               KEYS(R"({"key": "FNum", "type": "ui8 "}, {"key": "FNum", "type": "ui8 "})"),
               "keys[1]: \"FNum\" appears twice"},
        Broken{"LongName", KEYS(R"({"key": "FNums", "type": "ui8 "})"), "1 to 4 printable"},
        Broken{"NoSize", KEYS(R"({"key": "RPlt", "type": "ch8*"})"), "no fixed size"},
        Broken{"ValueForText", KEYS(R"({"key": "RPlt", "type": "ch8*", "size": 4, "value": 1})"),
               "numeric type"},
        Broken{"BothBytesAndValue",
               KEYS(R"({"key": "FNum", "type": "ui8 ", "bytes": "01", "value": 1})"), "not both"},
        Broken{"FlagNotBool", KEYS(R"({"key": "FNum", "type": "ui8 ", "readable": "yes"})"),
               "\"readable\" must be true or false"},
        Broken{"MisspeltFlag", KEYS(R"({"key": "FNum", "type": "ui8 ", "writeable": true})"),
               "unknown member \"writeable\""},
        Broken{"BadFollow", KEYS(R"({"key": "Tg0f", "type": "flt ", "follows": "gpu"})"),
               "\"follows\" must be"},
        Broken{"FollowOnText",
               KEYS(R"({"key": "Tg0f", "type": "ch8*", "size": 4, "follows": "chip"})"),
               "numeric type"},
        Broken{"GainWithoutFollow", KEYS(R"({"key": "Tg0f", "type": "flt ", "gain": 2})"),
               "need \"follows\""},
        Broken{"CurveBackwards", R"({"brand": "b", "keys": [], "thermal": {"curve": [90, 60]}})",
               "thermal: \"curve\""},
        Broken{"LoadAboveOne", R"({"brand": "b", "keys": [], "thermal": {"load": 2}})",
               "thermal: \"load\" must lie between 0 and 1"},
        Broken{"BatteryEscapes", R"({"brand": "b", "keys": [], "battery": {"name": "../x"}})",
               "battery: "},
        Broken{"EmptySensors",
               R"({"brand": "b", "keys": [], "hwmon": [{"name": "nvme", "sensors": []}]})",
               "hwmon[0]: \"sensors\" must be a non-empty array"},
        Broken{
            "SensorWithoutFollow",
            R"({"brand": "b", "keys": [], "hwmon": [{"name": "nvme", "sensors": [{"label": "x"}]}]})",
            "hwmon[0]: sensors[0]: missing \"follows\""},
        Broken{
            "LabelWithNewline",
            R"({"brand": "b", "keys": [], "hwmon": [{"name": "nvme", "sensors": [{"label": "a\nb", "follows": "ssd"}]}]})",
            "one short line"}),
    [](const auto& c) { return std::string(c.param.name); });

TEST(SimProfile, MinimalProfileTakesTheDocumentedDefaults) {
    const SimProfile profile = simtest::profile(
        R"({"brand": "b", "keys": [{"key": "F0Ac", "type": "flt ", "bytes": "00 80 e5 44"},
                                   {"key": "FS!", "type": "ui16"}]})");
    ASSERT_EQ(profile.keys.size(), 2u);
    EXPECT_TRUE(profile.keys[0].readable);
    EXPECT_FALSE(profile.keys[0].writable);
    EXPECT_TRUE(profile.keys[0].indexed);
    EXPECT_EQ(SimCodec::decode("flt ", profile.keys[0].bytes), 1836.0);
    EXPECT_EQ(profile.keys[1].name, "FS! ");
    EXPECT_EQ(profile.keys[1].bytes, std::vector<uint8_t>(2, 0));
    EXPECT_FALSE(profile.battery);
}

// A key table rebuilt from a real machine: it says where it came from, may carry members of its
// own, and lists keys the SMC describes but will not read through the 32-byte block.
TEST(SimProfile, ARealKeyDumpWithOversizedKeysLoads) {
    const SimProfile profile = simtest::profile(
        R"({"brand": "b", "origin": "published key table", "dumpedBy": "a tool",
            "keys": [{"key": "#KEY", "type": "ui32"},
                     {"key": "CLKT", "type": "{clh", "size": 36}]})");
    EXPECT_EQ(profile.origin, "published key table");
    ASSERT_EQ(profile.warnings.size(), 1u);
    EXPECT_NE(profile.warnings[0].find("unknown member \"dumpedBy\""), std::string::npos);
    SimMachine machine(profile);
    smc_param info;
    ASSERT_EQ(machine.exchange(simtest::request(SMC_CMD_KEY_INFO, "CLKT"), info), 0);
    EXPECT_EQ(info.result, 0);
    EXPECT_EQ(info.data_size, 36u);
    smc_param read;
    ASSERT_EQ(machine.exchange(simtest::request(SMC_CMD_READ_BYTES, "CLKT", 36), read), 0);
    EXPECT_NE(read.result, 0);
}

class SimProfileFile : public ::testing::Test {
  protected:
    std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("sim-profile-" + std::to_string(::getpid()));
    void SetUp() override { std::filesystem::create_directories(dir); }
    void TearDown() override { std::filesystem::remove_all(dir); }
    std::string write(const char* name, std::string_view text) {
        std::ofstream(dir / name) << text;
        return (dir / name).string();
    }
};

TEST_F(SimProfileFile, LoadsAFileAndNamesItInErrors) {
    const std::string good = write("good.json", R"({"brand": "Apple M9", "keys": []})");
    const SimProfile::Loaded loaded = SimProfile::load(good);
    ASSERT_TRUE(loaded.profile) << loaded.error;
    EXPECT_EQ(loaded.profile->brand, "Apple M9");
    EXPECT_EQ(loaded.profile->source, good);

    const std::string bad = write("bad.json", R"({"brand": "x", "keys": [{"key": 5}]})");
    const SimProfile::Loaded refused = SimProfile::load(bad);
    EXPECT_FALSE(refused.profile);
    EXPECT_TRUE(refused.error.starts_with(bad + ": keys[0]")) << refused.error;
}

TEST_F(SimProfileFile, MissingFilesAndUnknownNamesAreExplained) {
    const SimProfile::Loaded missing = SimProfile::load((dir / "none.json").string());
    EXPECT_NE(missing.error.find("cannot read " + (dir / "none.json").string()), std::string::npos)
        << missing.error;
    const SimProfile::Loaded folder = SimProfile::load(dir.string());
    EXPECT_FALSE(folder.profile);
    EXPECT_NE(folder.error.find(dir.string()), std::string::npos);
    const SimProfile::Loaded unknown = SimProfile::load("mbp99");
    EXPECT_NE(unknown.error.find("no built-in profile and no file named \"mbp99\""),
              std::string::npos);
    EXPECT_NE(unknown.error.find("mbp14-m3pro"), std::string::npos) << unknown.error;
    EXPECT_THROW(SimMachine("mbp99"), std::invalid_argument);
}

}  // namespace
