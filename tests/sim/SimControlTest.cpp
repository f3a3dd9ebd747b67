#include <gtest/gtest.h>

#include <ostream>

#include "SimTestSupport.h"
#include "sim/SimControlFile.h"

namespace {

SimControl defaults() {
    SimControl control;
    control.load = 0.2;
    control.ambient = 22;
    control.charger = false;
    control.battery = 55;
    return control;
}

TEST(SimControlParse, PresentMembersReplaceDefaultsAndAbsentOnesKeepThem) {
    const auto parsed = SimControl::parse(R"({"load": 0.75, "pin": {"F0Ac": 2500, "Ftst": 1},
        "hid": {"CPU tdie coretemp Package id 0": 91.5},
        "fail": {"read": ["TB0T"], "write": ["F0Md", "FS!"], "io": true},
        "sleep": 8, "take": {"1": 3000}})",
                                          defaults());
    ASSERT_TRUE(parsed.control) << parsed.error;
    const SimControl& c = *parsed.control;
    EXPECT_EQ(c.load, 0.75);
    EXPECT_EQ(c.ambient, 22);
    EXPECT_FALSE(c.charger);
    EXPECT_EQ(c.battery, 55);
    EXPECT_EQ(c.pins, (std::map<std::string, double>{{"F0Ac", 2500}, {"Ftst", 1}}));
    EXPECT_EQ(c.hid.at("CPU tdie coretemp Package id 0"), 91.5);
    EXPECT_EQ(c.faults.read, std::set<std::string>{"TB0T"});
    EXPECT_EQ(c.faults.write, (std::set<std::string>{"F0Md", "FS! "}));
    EXPECT_TRUE(c.faults.io);
    EXPECT_EQ(c.sleep, 8);
    EXPECT_EQ(c.takes, (std::map<int, double>{{1, 3000}}));
    EXPECT_EQ(SimControl::parse("{}", defaults()).control, defaults());
}

struct Malformed {
    const char* name;
    const char* json;
    const char* complaint;
};

// Names the case in test output, where gtest would otherwise dump the struct's bytes.
inline void PrintTo(const Malformed& c, std::ostream* out) { *out << c.name; }

class SimControlMalformed : public ::testing::TestWithParam<Malformed> {};

TEST_P(SimControlMalformed, IsRefusedWithTheReason) {
    const auto parsed = SimControl::parse(GetParam().json, defaults());
    EXPECT_FALSE(parsed.control);
    EXPECT_NE(parsed.error.find(GetParam().complaint), std::string::npos) << parsed.error;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SimControlMalformed,
    ::testing::Values(Malformed{"Truncated", R"({"load": 0.5)", "not valid JSON"},
                      Malformed{"Empty", "", "not valid JSON"},
                      Malformed{"Array", "[1]", "JSON object"},
                      Malformed{"LoadText", R"({"load": "high"})", "\"load\""},
                      Malformed{"LoadTooHigh", R"({"load": 1.5})", "\"load\""},
                      Malformed{"ChargerNumber", R"({"charger": 1})", "\"charger\""},
                      Malformed{"BatteryNegative", R"({"battery": -1})", "\"battery\""},
                      Malformed{"AmbientNull", R"({"ambient": null})", "\"ambient\""},
                      Malformed{"PinText", R"({"pin": {"F0Ac": "fast"}})", "\"pin\": \"F0Ac\""},
                      Malformed{"PinLongKey", R"({"pin": {"F0Acc": 1}})", "\"pin\""},
                      Malformed{"HidList", R"({"hid": [1]})", "\"hid\""},
                      Malformed{"FailReadText", R"({"fail": {"read": "F0Ac"}})", "\"read\""},
                      Malformed{"FailIoNumber", R"({"fail": {"io": 1}})", "\"io\""},
                      Malformed{"FailUnknown", R"({"fail": {"reads": []}})", "\"reads\""},
                      Malformed{"SleepNegative", R"({"sleep": -1})", "\"sleep\""},
                      Malformed{"TakeFanName", R"({"take": {"F1": 3000}})", "\"take\": \"F1\""},
                      Malformed{"HwmonMovesFraction", R"({"hwmon": {"moves": 1.5}})", "\"moves\""},
                      Malformed{"HwmonAbsentText", R"({"hwmon": {"absent": "nvme"}})",
                                "\"absent\""},
                      Malformed{"Misspelt", R"({"laod": 1})", "unknown member \"laod\""}),
    [](const auto& c) { return std::string(c.param.name); });

class SimControlFileTest : public ::testing::Test {
  protected:
    support::TempDir dir;
    SimMachine machine{simtest::profile(simtest::fanProfileJson())};
    SimControlFile file{dir.path() / "control.json"};
    void write(std::string_view text) { support::writeText(dir.path() / "control.json", text); }
};

TEST_F(SimControlFileTest, MissingFileMeansTheProfileDefaults) {
    machine.setLoad(0.9);
    EXPECT_EQ(file.refresh(machine), "");
    EXPECT_EQ(machine.control(), SimControl::defaults(machine.profile()));
}

TEST_F(SimControlFileTest, MalformedFileKeepsThePreviousControlAndIsReportedOnce) {
    const std::optional<double> fans = machine.value("FNum");
    write(R"({"load": 0.6, "pin": {"F0Ac": 2000, "FNum": 0}, "fail": {"read": ["F1Ac"]}})");
    EXPECT_EQ(file.refresh(machine), "");
    EXPECT_EQ(machine.value("FNum"), 0.0);
    const SimControl good = machine.control();
    EXPECT_EQ(good.load, 0.6);
    EXPECT_EQ(machine.value("F0Ac"), 2000.0);

    for (const char* bad : {R"({"load": 0.6, )", R"({"pin": {"NOPE": 1}})",
                            R"({"hid": {"no such sensor": 50}})", R"({"pin": {"RPlt": 1}})"}) {
        write(bad);
        EXPECT_EQ(file.refresh(machine), "") << "a writer may not be done yet: " << bad;
        const std::string first = file.refresh(machine);
        EXPECT_NE(first.find("control.json: "), std::string::npos) << bad;
        EXPECT_NE(first.find("keeping the previous control"), std::string::npos) << first;
        EXPECT_EQ(file.refresh(machine), "") << "told once: " << bad;
        EXPECT_EQ(machine.control(), good) << bad;
    }

    write(R"({"load": 0.3})");
    EXPECT_EQ(file.refresh(machine), "");
    EXPECT_EQ(machine.control().load, 0.3);
    EXPECT_TRUE(machine.control().pins.empty()) << "a pin the file no longer names is released";
    EXPECT_EQ(machine.value("FNum"), fans) << "a key the model does not drive gets its value back";
}

TEST_F(SimControlFileTest, OversizedOrUnreadableFileKeepsThePreviousControl) {
    write(R"({"ambient": 30})");
    file.refresh(machine);
    write(std::string(SimControlFile::kMaxBytes + 1, ' '));
    EXPECT_NE(file.refresh(machine).find("larger than"), std::string::npos);
    EXPECT_EQ(machine.control().ambient, 30);
    std::filesystem::remove(dir.path() / "control.json");
    std::filesystem::create_directory(dir.path() / "control.json");
    EXPECT_NE(file.refresh(machine), "");
    EXPECT_EQ(machine.control().ambient, 30);
}

TEST_F(SimControlFileTest, HidPinsMatchLabelChipAndProductName) {
    SimMachine intel("mbp16-intel-t2");
    SimControlFile intelFile(dir.path() / "control.json");
    write(
        R"({"hid": {"CPU tdie coretemp Package id 0": 97.25, "Composite": 61, "BAT0 temp1": 33}})");
    ASSERT_EQ(intelFile.refresh(intel), "");
    std::map<std::string, double> seen;
    for (const SimHidReading& r : intel.hid()) {
        if (r.pinned) seen[r.chip + "/" + r.label] = r.value;
    }
    EXPECT_EQ(seen, (std::map<std::string, double>{
                        {"coretemp/Package id 0", 97.25}, {"nvme/Composite", 61}, {"BAT0/", 33}}));
}

}  // namespace
