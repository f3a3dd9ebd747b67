#include <gtest/gtest.h>

#include <ostream>
#include <set>

#include "SimTestSupport.h"

using simtest::atIndex;
using simtest::request;

namespace {

class SimExchange : public ::testing::Test {
  protected:
    SimMachine machine{simtest::profile(simtest::fanProfileJson())};

    smc_param call(const smc_param& block, int32_t* status = nullptr) {
        smc_param reply;
        const int32_t result = machine.exchange(block, reply);
        if (status != nullptr) *status = result;
        return reply;
    }
};

TEST_F(SimExchange, KeyInfoDescribesSizeTypeAndAccess) {
    const smc_param reply = call(request(SMC_CMD_KEY_INFO, "F0Tg"));
    EXPECT_EQ(reply.result, 0);
    EXPECT_EQ(reply.data_size, 4u);
    EXPECT_EQ(reply.data_type, SimCodec::pack("flt "));
    EXPECT_EQ(reply.attributes & 0xC0, 0xC0);  // readable and writable

    const smc_param mode = call(request(SMC_CMD_KEY_INFO, "FNum"));
    EXPECT_EQ(mode.data_size, 1u);
    EXPECT_EQ(mode.data_type, SimCodec::pack("ui8 "));
    EXPECT_EQ(mode.attributes & 0x40, 0);
}

TEST_F(SimExchange, ReadReturnsTheValueBytesAndZeroesTheRest) {
    smc_param block = request(SMC_CMD_READ_BYTES, "RPlt", 8);
    block.bytes[20] = 0xAA;  // request bytes must not leak into the reply
    const smc_param reply = call(block);
    ASSERT_EQ(reply.result, 0);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(reply.bytes)), "j514s");
    for (size_t i = 8; i < sizeof reply.bytes; ++i) EXPECT_EQ(reply.bytes[i], 0) << i;
}

struct Refusal {
    const char* name;
    smc_param block;
    uint8_t result;
};

// Names the case in test output, where gtest would otherwise dump the struct's bytes.
inline void PrintTo(const Refusal& c, std::ostream* out) { *out << c.name; }

class SimExchangeRefusal : public SimExchange, public ::testing::WithParamInterface<Refusal> {};

TEST_P(SimExchangeRefusal, AnswersWithANonZeroResultAndChangesNothing) {
    const auto before = machine.bytes("F0Mn");
    const auto lockBefore = machine.bytes("LOCK");
    int32_t status = -7;
    const smc_param reply = call(GetParam().block, &status);
    EXPECT_EQ(status, 0) << "the exchange itself took place";
    EXPECT_EQ(reply.result, GetParam().result);
    EXPECT_EQ(machine.bytes("F0Mn"), before);
    EXPECT_EQ(machine.bytes("LOCK"), lockBefore);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SimExchangeRefusal,
    ::testing::Values(
        Refusal{"InfoMissingKey", request(SMC_CMD_KEY_INFO, "ZZZZ"), 0x84},
        Refusal{"ReadMissingKey", request(SMC_CMD_READ_BYTES, "ZZZZ", 4), 0x84},
        Refusal{"ReadWrongSize", request(SMC_CMD_READ_BYTES, "F0Mn", 2), 0x87},
        Refusal{"ReadUnreadable", request(SMC_CMD_READ_BYTES, "LOCK", 1), 0x85},
        Refusal{"WriteMissingKey", request(SMC_CMD_WRITE_BYTES, "ZZZZ", 1, {1}), 0x84},
        Refusal{"WriteReadOnly", request(SMC_CMD_WRITE_BYTES, "F0Mn", 4, {0, 0, 0x7A, 0x44}), 0x86},
        Refusal{"WriteShort", request(SMC_CMD_WRITE_BYTES, "F0Tg", 2, {0, 0}), 0x87},
        Refusal{"WriteLong", request(SMC_CMD_WRITE_BYTES, "LOCK", 33, {1}), 0x87},
        Refusal{"IndexPastTheEnd", atIndex(1000), 0xB8},
        Refusal{"UnknownCommand", request(7, "F0Mn", 4), SmcResult::badCommand},
        Refusal{"ZeroCommand", request(0), SmcResult::badCommand}),
    [](const auto& c) { return std::string(c.param.name); });

TEST_F(SimExchange, WriteOfTheRightSizeToAWritableKeyIsStored) {
    const smc_param reply = call(request(SMC_CMD_WRITE_BYTES, "F0Tg", 4, {0x00, 0x80, 0xBB, 0x44}));
    EXPECT_EQ(reply.result, 0);
    EXPECT_EQ(machine.value("F0Tg"), 1500.0);
    // Write-only keys take writes too; they just cannot be read back over the wire.
    EXPECT_EQ(call(request(SMC_CMD_WRITE_BYTES, "LOCK", 1, {3})).result, 0);
    EXPECT_EQ(machine.value("LOCK"), 3.0);
}

TEST_F(SimExchange, IndexListsIndexedKeysInCodeOrderAndCountMatches) {
    const smc_param countReply = call(request(SMC_CMD_READ_BYTES, "#KEY", 4));
    ASSERT_EQ(countReply.result, 0);
    const uint32_t count = (uint32_t{countReply.bytes[0]} << 24) |
                           (uint32_t{countReply.bytes[1]} << 16) |
                           (uint32_t{countReply.bytes[2]} << 8) | countReply.bytes[3];
    std::vector<std::string> listed;
    for (uint32_t i = 0; i < count; ++i) {
        const smc_param reply = call(atIndex(i));
        ASSERT_EQ(reply.result, 0) << i;
        listed.push_back(SimCodec::unpack(reply.key));
    }
    EXPECT_EQ(call(atIndex(count)).result, 0xB8);
    EXPECT_TRUE(std::is_sorted(listed.begin(), listed.end()));
    EXPECT_EQ(std::set<std::string>(listed.begin(), listed.end()).size(), listed.size());
    EXPECT_EQ(listed.front(), "#KEY");
    EXPECT_NE(std::find(listed.begin(), listed.end(), "Ftst"), listed.end());
    // The hidden key stays out of the index and the count but answers by name.
    EXPECT_EQ(std::find(listed.begin(), listed.end(), "TCMz"), listed.end());
    EXPECT_EQ(count, machine.profile().keys.size() - 1);
    EXPECT_EQ(call(request(SMC_CMD_KEY_INFO, "TCMz")).result, 0);
    EXPECT_EQ(call(request(SMC_CMD_READ_BYTES, "TCMz", 4)).result, 0);
}

TEST_F(SimExchange, InjectedReadAndWriteFaultsHitOnlyTheirKeysAndOperations) {
    machine.setFaults({{"F0Ac"}, {"F0Tg"}, false});
    EXPECT_EQ(call(request(SMC_CMD_KEY_INFO, "F0Ac")).result, 0) << "the key still exists";
    EXPECT_NE(call(request(SMC_CMD_READ_BYTES, "F0Ac", 4)).result, 0);
    EXPECT_EQ(call(request(SMC_CMD_READ_BYTES, "F1Ac", 4)).result, 0);
    EXPECT_EQ(call(request(SMC_CMD_READ_BYTES, "F0Tg", 4)).result, 0) << "reads of F0Tg work";
    EXPECT_NE(call(request(SMC_CMD_WRITE_BYTES, "F0Tg", 4, {0, 0x80, 0xBB, 0x44})).result, 0);
    EXPECT_NE(machine.value("F0Tg"), 1500.0);
    EXPECT_EQ(call(request(SMC_CMD_WRITE_BYTES, "F1Tg", 4, {0, 0x80, 0xBB, 0x44})).result, 0);
}

TEST_F(SimExchange, IoFaultFailsEveryExchangeBelowTheSmc) {
    machine.setFaults({{}, {}, true});
    smc_param reply;
    std::memset(&reply, 0xFF, sizeof reply);
    EXPECT_EQ(machine.exchange(request(SMC_CMD_KEY_INFO, "FNum"), reply), SMC_STATUS_IO_ERROR);
    EXPECT_EQ(reply.result, 0) << "the reply is cleared";
    EXPECT_EQ(reply.data_size, 0u);
    EXPECT_EQ(machine.exchange(request(SMC_CMD_WRITE_BYTES, "F0Md", 1, {1}), reply),
              SMC_STATUS_IO_ERROR);
    EXPECT_EQ(machine.value("F0Md"), 0.0);
    EXPECT_TRUE(machine.writes().empty()) << "nothing reached the SMC";
    EXPECT_EQ(machine.counts().ioFailures, 2u);
    machine.setFaults({});
    int32_t status = -1;
    call(request(SMC_CMD_KEY_INFO, "FNum"), &status);
    EXPECT_EQ(status, 0);
}

TEST_F(SimExchange, CountsEachCommand) {
    call(request(SMC_CMD_KEY_INFO, "FNum"));
    call(request(SMC_CMD_KEY_INFO, "ZZZZ"));
    call(request(SMC_CMD_READ_BYTES, "FNum", 1));
    call(request(SMC_CMD_WRITE_BYTES, "Ftst", 1, {1}));
    call(atIndex(0));
    call(atIndex(0));
    call(atIndex(0));
    call(request(42));
    const SimExchangeCounts& counts = machine.counts();
    EXPECT_EQ(counts.keyInfo, 2u);
    EXPECT_EQ(counts.read, 1u);
    EXPECT_EQ(counts.write, 1u);
    EXPECT_EQ(counts.keyAtIndex, 3u);
    EXPECT_EQ(counts.other, 1u);
}

TEST_F(SimExchange, WriteLogKeepsTheLast256InOrderWithDecodedValuesAndResults) {
    call(request(SMC_CMD_WRITE_BYTES, "F0Mn", 4, {0, 0, 0x7A, 0x44}));  // refused
    for (uint8_t i = 0; i < 255; ++i) call(request(SMC_CMD_WRITE_BYTES, "F0Md", 1, {i}));
    ASSERT_EQ(machine.writes().size(), 256u);
    EXPECT_EQ(machine.writes().front().key, "F0Mn");
    EXPECT_EQ(machine.writes().front().value, 1000.0);
    EXPECT_EQ(machine.writes().front().result, 0x86);
    call(request(SMC_CMD_WRITE_BYTES, "Ftst", 1, {1}));
    ASSERT_EQ(machine.writes().size(), 256u);
    EXPECT_EQ(machine.writes().front().key, "F0Md");
    EXPECT_EQ(machine.writes().front().value, 0.0);
    EXPECT_EQ(machine.writes()[254].value, 254.0);
    EXPECT_EQ(machine.writes().back().key, "Ftst");
    EXPECT_EQ(machine.writes().back().bytes, "01");
    EXPECT_EQ(machine.writes().back().result, 0);
}

TEST_F(SimExchange, GarbageKeyCodesAreLoggedPrintably) {
    smc_param block = request(SMC_CMD_WRITE_BYTES, "", 40);
    block.key = 0x00FF0A41;
    EXPECT_EQ(call(block).result, 0x84);
    ASSERT_EQ(machine.writes().size(), 1u);
    EXPECT_EQ(machine.writes()[0].key, "???A");
    EXPECT_FALSE(machine.writes()[0].value.has_value());
}

TEST_F(SimExchange, PinnedKeyAcceptsWritesButKeepsItsValue) {
    ASSERT_TRUE(machine.pin("F0Md", 0));
    EXPECT_EQ(call(request(SMC_CMD_WRITE_BYTES, "F0Md", 1, {1})).result, 0);
    EXPECT_EQ(machine.value("F0Md"), 0.0);
    machine.unpin("F0Md");
    EXPECT_EQ(call(request(SMC_CMD_WRITE_BYTES, "F0Md", 1, {1})).result, 0);
    EXPECT_EQ(machine.value("F0Md"), 1.0);
}

}  // namespace
