#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "CSMC/codec.h"
#include "CSMC/smc.h"
#include "CSMC/transport.h"
#include "FanCore/SMC/SMC.h"
#include "FanCore/Sensors/Sensors.h"
#include "sim/SimMachine.h"
#include "sim/SimTransport.h"

namespace {

uint64_t total(const SimExchangeCounts& c) {
    return c.keyInfo + c.read + c.write + c.keyAtIndex + c.other + c.ioFailures;
}

class SimAccess : public ::testing::TestWithParam<const char*> {
  protected:
    void SetUp() override { smc_set_transport_factory(SimTransport::factory(machine)); }
    void TearDown() override {
        smc_set_transport_factory([] { return SmcOpenResult{-1, nullptr}; });
    }

    SimMachine machine{std::string_view(GetParam())};
};

TEST_P(SimAccess, AllKeysListsTheIndexAndCostsTwoExchangesPlusOnePerKey) {
    const uint64_t before = total(machine.counts());
    const std::vector<uint32_t> keys = SMC::allKeys();
    const uint64_t cost = total(machine.counts()) - before;
    ASSERT_FALSE(keys.empty());
    EXPECT_EQ(cost, 2 + keys.size());
    EXPECT_EQ(machine.value("#KEY"), static_cast<double>(keys.size()));
    for (const uint32_t key : keys) {
        const std::string name = SMC::name(key);
        const auto& all = machine.profile().keys;
        EXPECT_TRUE(std::any_of(all.begin(), all.end(), [&](const SimKey& known) {
            return known.name == name;
        })) << name;
    }
}

TEST_P(SimAccess, EveryKeyDecodesToTheSimulatorsOwnValue) {
    for (const SimKey& key : machine.profile().keys) {
        const std::optional<double> expected = machine.value(key.name);
        const std::optional<double> read = SMC::readDouble(key.name);
        if (!key.readable) {
            EXPECT_EQ(read, std::nullopt) << key.name;
            continue;
        }
        EXPECT_EQ(read, expected) << key.name << " " << key.type;
        EXPECT_EQ(SMC::readDouble(smc_fourcc(key.name.c_str())), read) << key.name;
    }
}

TEST_P(SimAccess, UnknownKeysNeitherExistNorReadNorWrite) {
    EXPECT_FALSE(SMC::exists("ZZZZ"));
    EXPECT_EQ(SMC::readDouble("ZZZZ"), std::nullopt);
    const SimExchangeCounts before = machine.counts();
    EXPECT_FALSE(SMC::writeNumber("ZZZZ", 1));
    EXPECT_EQ(machine.counts().keyInfo, before.keyInfo);  // already known to be missing
    EXPECT_EQ(machine.counts().write, before.write);
}

TEST_P(SimAccess, InjectedIoFailurePassesThroughAndClears) {
    ASSERT_TRUE(SMC::open());
    const uint32_t conn = g_conn;
    SimFaults faults;
    faults.io = true;
    machine.setFaults(faults);
    uint8_t out[32];
    EXPECT_EQ(smc_read(smc_fourcc("FNum"), nullptr, out), SMC_STATUS_IO_ERROR);
    EXPECT_EQ(smc_key_count(), 0u);
    EXPECT_TRUE(SMC::allKeys().empty());
    EXPECT_FALSE(SMC::exists("FNum"));
    EXPECT_EQ(SMC::readDouble("FNum"), std::nullopt);
    machine.setFaults({});
    EXPECT_EQ(SMC::readDouble("FNum"), machine.value("FNum"));
    EXPECT_EQ(g_conn, conn);
}

TEST_P(SimAccess, InjectedReadFailureIsAnAbsentValue) {
    const std::vector<uint32_t> keys = SMC::allKeys();
    std::string temperature;
    for (const uint32_t key : keys) {
        if (SMC::name(key)[0] == 'T') temperature = SMC::name(key);
    }
    ASSERT_FALSE(temperature.empty());
    SimFaults faults;
    faults.read = {temperature, "FNum"};
    machine.setFaults(faults);
    EXPECT_EQ(SMC::readDouble(temperature), std::nullopt);
    EXPECT_EQ(SMC::readDouble("FNum"), std::nullopt);
    EXPECT_TRUE(SMC::exists(temperature));
    EXPECT_EQ(SMC::readDouble("#KEY"), static_cast<double>(keys.size()));
    uint8_t out[32];
    const int32_t status = smc_read(smc_fourcc("FNum"), nullptr, out);
    EXPECT_NE(status, 0);
    EXPECT_GT(status, 0);  // an SMC result, not a platform status
}

// On a slow bus a pass reads two keys of the chip group, not all of them; through warming,
// cooling and load steps the hottest of the two stays within 2 °C of the group's maximum.
TEST_P(SimAccess, ASweepOfTheChipKeysCostsTwoReadsAndFollowsTheirMaximum) {
    const Sensors sensors(std::chrono::milliseconds(0));
    const auto cpu = sensors.groups.find("cpu");
    ASSERT_NE(cpu, sensors.groups.end());
    const size_t sweptGroups = 1 + (sensors.groups.contains("gpu") ? 1 : 0);
    (void)sensors.read(Sensors::Scope::chip);  // finds the hottest of each group
    for (const double load : {1.0, 0.2, 0.7, 0.0, 1.0}) {
        machine.setLoad(load);
        for (int pass = 0; pass < 15; ++pass) {
            machine.advance(2.0);
            const uint64_t before = total(machine.counts());
            const auto swept = sensors.read(Sensors::Scope::chip, Sensors::Keys::sweep).cpu;
            EXPECT_LE(total(machine.counts()) - before, 2 * sweptGroups);
            double hottest = -1000;
            for (const uint32_t key : cpu->second) {
                hottest = std::max(hottest, machine.value(SMC::name(key)).value_or(hottest));
            }
            ASSERT_TRUE(swept.has_value());
            EXPECT_NEAR(*swept, hottest, 2.0) << "load " << load << ", pass " << pass;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Profiles, SimAccess,
                         ::testing::Values("mbp14-m3pro", "mba13-m2", "mbp16-intel-t2",
                                           "mbp13-intel-applesmc"),
                         [](const auto& param) {
                             std::string name = param.param;
                             for (char& c : name) {
                                 if (c == '-') c = '_';
                             }
                             return name;
                         });

class SimWrites : public ::testing::Test {
  protected:
    void SetUp() override { smc_set_transport_factory(SimTransport::factory(machine)); }
    void TearDown() override {
        smc_set_transport_factory([] { return SmcOpenResult{-1, nullptr}; });
    }

    std::vector<uint8_t> bytes(const char* key) { return machine.bytes(key).value(); }

    SimMachine machine{std::string_view("mbp16-intel-t2")};
};

TEST_F(SimWrites, WriteNumberEncodesForTheKeysOwnType) {
    EXPECT_TRUE(SMC::writeNumber("F0Tg", 1500));
    EXPECT_EQ(bytes("F0Tg"), (std::vector<uint8_t>{0x00, 0x80, 0xBB, 0x44}));
    EXPECT_TRUE(SMC::writeNumber("F0Md", 2.5));
    EXPECT_EQ(bytes("F0Md"), (std::vector<uint8_t>{3}));
    EXPECT_TRUE(SMC::writeNumber("F0Md", 300));
    EXPECT_EQ(bytes("F0Md"), (std::vector<uint8_t>{255}));
    EXPECT_TRUE(SMC::writeNumber("F0Md", -3));
    EXPECT_EQ(bytes("F0Md"), (std::vector<uint8_t>{0}));
    EXPECT_TRUE(SMC::writeNumber("FS! ", 258));
    EXPECT_EQ(bytes("FS! "), (std::vector<uint8_t>{0x01, 0x02}));
    ASSERT_FALSE(machine.writes().empty());
    EXPECT_EQ(machine.writes().back().key, "FS! ");
    EXPECT_EQ(machine.writes().back().value, 258.0);
}

TEST_F(SimWrites, UnencodableTypesSendNoWriteRequest) {
    const SimExchangeCounts before = machine.counts();
    EXPECT_FALSE(SMC::writeNumber("TC0P", 40));  // sp78
    EXPECT_FALSE(SMC::writeNumber("#KEY", 4));   // ui32
    EXPECT_FALSE(SMC::writeNumber("RPlt", 4));   // ch8*
    EXPECT_EQ(machine.counts().write, before.write);
}

TEST_F(SimWrites, RefusedWritesAreFalse) {
    EXPECT_FALSE(SMC::writeNumber("F0Mx", 6000));  // not writable
    EXPECT_EQ(machine.value("F0Mx"), 5393.0);
    SimFaults faults;
    faults.write = {"F0Tg"};
    machine.setFaults(faults);
    EXPECT_FALSE(SMC::writeNumber("F0Tg", 2000));
    EXPECT_NE(machine.writes().back().result, 0);
    EXPECT_TRUE(SMC::writeNumber("F1Tg", 2000));
    EXPECT_EQ(machine.value("F1Tg"), 2000.0);
}

}  // namespace
