#include <gtest/gtest.h>

#include <cmath>
#include <nlohmann/json.hpp>

#include "SimTestSupport.h"
#include "sim/SimFile.h"
#include "sim/SimState.h"

using nlohmann::json;

namespace {

json render(const SimMachine& machine) {
    const json state = json::parse(SimState::render(machine), nullptr, false);
    EXPECT_FALSE(state.is_discarded());
    return state;
}

TEST(SimState, ReportsCountsFansUnlockTemperaturesAndWritesInOrder) {
    SimMachine machine(simtest::profile(simtest::fanProfileJson()));
    smc_param reply;
    machine.exchange(simtest::request(SMC_CMD_KEY_INFO, "FNum"), reply);
    machine.exchange(simtest::request(SMC_CMD_READ_BYTES, "FNum", 1), reply);
    ASSERT_EQ(simtest::writeNumber(machine, "Ftst", 1), 0);
    ASSERT_EQ(simtest::writeNumber(machine, "F0Md", 1), 0);
    ASSERT_EQ(simtest::writeNumber(machine, "F0Tg", 2500), 0);
    ASSERT_EQ(simtest::writeNumber(machine, "F0Mn", 900), SmcResult::notWritable);
    machine.advance(2);

    const json state = render(machine);
    EXPECT_DOUBLE_EQ(state["time"].get<double>(), 2.0);
    EXPECT_TRUE(state["updated"].is_number());
    EXPECT_EQ(state["exchanges"]["keyInfo"], 1);
    EXPECT_EQ(state["exchanges"]["read"], 1);
    EXPECT_EQ(state["exchanges"]["write"], 4);
    EXPECT_EQ(state["Ftst"], 1.0);

    ASSERT_EQ(state["fans"].size(), 2u);
    const json& fan = state["fans"][0];
    EXPECT_EQ(fan["index"], 0);
    EXPECT_NEAR(fan["actual"].get<double>(), 1000.0, 1e-3) << "two seconds at 500 rpm/s";
    EXPECT_EQ(fan["target"], 2500.0);
    EXPECT_EQ(fan["mode"], 1);
    EXPECT_EQ(fan["min"], 1200.0);
    EXPECT_EQ(fan["max"], 6000.0);
    EXPECT_EQ(fan["manual"], true);
    EXPECT_EQ(state["fans"][1]["mode"], 0);

    const double tf04 = state["temperatures"]["Tf04"].get<double>();
    EXPECT_EQ(tf04, *machine.value("Tf04"));
    EXPECT_NE(tf04, std::round(tf04));
    EXPECT_TRUE(state["temperatures"].contains("TB0T"));
    EXPECT_FALSE(state["temperatures"].contains("F0Ac"));

    const json& writes = state["writes"];
    ASSERT_EQ(writes.size(), 4u);
    const char* keys[] = {"Ftst", "F0Md", "F0Tg", "F0Mn"};
    for (size_t i = 0; i < 4; ++i) EXPECT_EQ(writes[i]["key"], keys[i]);
    EXPECT_EQ(writes[2]["value"], 2500.0);
    EXPECT_EQ(writes[2]["bytes"], "00 40 1c 45");
    EXPECT_EQ(writes[2]["result"], 0);
    EXPECT_EQ(writes[3]["value"], 900.0);
    EXPECT_EQ(writes[3]["result"], SmcResult::notWritable);
}

TEST(SimState, WithoutAnUnlockKeyFtstIsNullAndHidUsesTheSystemsNames) {
    SimMachine machine("mbp16-intel-t2");
    ASSERT_TRUE(machine.pin("TC0P", 70.5));
    const json state = render(machine);
    EXPECT_TRUE(state["Ftst"].is_null());
    EXPECT_EQ(state["brand"], "Intel(R) Core(TM) i9-9880H CPU @ 2.30GHz");
    EXPECT_EQ(state["profile"], "mbp16-intel-t2");
    EXPECT_EQ(state["control"]["pin"]["TC0P"], 70.5);
    for (const char* name : {"CPU tdie coretemp Package id 0", "CPU coretemp Core 3",
                             "GPU amdgpu edge", "NAND nvme Composite", "battery BAT0 temp1"}) {
        EXPECT_TRUE(state["hid"].contains(name)) << name;
    }
}

TEST(SimState, GarbageWrittenKeysStillRenderAsJson) {
    SimMachine machine(simtest::profile(simtest::fanProfileJson()));
    smc_param block = simtest::request(SMC_CMD_WRITE_BYTES, "", 1, {1});
    block.key = 0xC3FFFE22;  // bytes that are not UTF-8 and a quote
    smc_param reply;
    machine.exchange(block, reply);
    const json state = render(machine);
    EXPECT_EQ(state["writes"][0]["key"], "???\"");
    EXPECT_TRUE(state["writes"][0]["value"].is_null());
}

TEST(SimFileReplace, ReplacesWholeAndFailsWithoutLeavingDebris) {
    support::TempDir dir;
    const std::filesystem::path path = dir.path() / "state.json";
    std::string error;
    ASSERT_TRUE(SimFile::replace(path, "first", error)) << error;
    ASSERT_TRUE(SimFile::replace(path, "second", error)) << error;
    EXPECT_EQ(support::readText(path), "second");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                            std::filesystem::directory_iterator()),
              1);
    EXPECT_FALSE(SimFile::replace(dir.path() / "gone" / "state.json", "x", error));
    EXPECT_NE(error.find("gone"), std::string::npos) << error;
}

}  // namespace
