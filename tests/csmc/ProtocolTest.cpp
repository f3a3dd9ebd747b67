#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "CSMC/codec.h"
#include "CSMC/smc.h"
#include "CSMC/transport.h"
#include "FanCore/SMC/SMC.h"
#include "RecordingTransport.h"

namespace {

static_assert(offsetof(smc_param, key) == 0);
static_assert(offsetof(smc_param, data_size) == 28);
static_assert(offsetof(smc_param, data_type) == 32);
static_assert(offsetof(smc_param, attributes) == 36);
static_assert(offsetof(smc_param, result) == 40);
static_assert(offsetof(smc_param, command) == 42);
static_assert(offsetof(smc_param, index) == 44);
static_assert(offsetof(smc_param, bytes) == 48);

constexpr uint32_t kFNum = 0x464E756D;
constexpr int32_t kOpenRefused = static_cast<int32_t>(0xE00002C7u);

void putAt(smc_param& block, size_t offset, std::vector<uint8_t> bytes) {
    std::memcpy(reinterpret_cast<uint8_t*>(&block) + offset, bytes.data(), bytes.size());
}

void putLittleEndian(smc_param& block, size_t offset, uint32_t value) {
    putAt(block, offset,
          {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
           static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)});
}

// Every byte of `bytes` is zero except those at the listed offsets.
void expectZeroExcept(const std::vector<uint8_t>& bytes, std::vector<size_t> set) {
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (std::find(set.begin(), set.end(), i) != set.end()) continue;
        EXPECT_EQ(bytes[i], 0) << "offset " << i;
    }
}

class Protocol : public ::testing::Test {
  protected:
    void SetUp() override { smc_set_transport_factory(smc.factory()); }
    void TearDown() override {
        smc_set_transport_factory([] { return SmcOpenResult{-1, nullptr}; });
    }

    // An SMC holding one key of `type` and `size` whose value area is `value`, answering through
    // the reply's raw offsets.
    void holdKey(uint32_t key, const char (&type)[5], uint32_t size, std::vector<uint8_t> value) {
        smc.answer = [=](const smc_param& request, smc_param& reply) {
            if (request.key != key) {
                reply.result = SmcResult::keyNotFound;
                return 0;
            }
            if (request.command == SMC_CMD_KEY_INFO) {
                putLittleEndian(reply, 28, size);
                putLittleEndian(reply, 32, smc_fourcc(type));
                putAt(reply, 36, {0xD0});
            } else if (request.command == SMC_CMD_READ_BYTES) {
                putAt(reply, 48, value);
            }
            return 0;
        };
    }

    Recording smc;
};

TEST(Fourcc, PacksMostSignificantFirstWithSpacePadding) {
    const std::vector<std::pair<std::string, uint32_t>> cases = {
        {"FNum", 0x464E756D}, {"#KEY", 0x234B4559},  {"Ftst", 0x46747374},
        {"ab", 0x61622020},   {"abcde", 0x61626364}, {"", 0x20202020},
    };
    for (const auto& [text, code] : cases) EXPECT_EQ(smc_fourcc(text.c_str()), code) << text;
    EXPECT_EQ(smc_fourcc(nullptr), 0x20202020u);
    // Counted text: a zero byte inside the four counts as a space, and nothing past it ends it.
    EXPECT_EQ(smc_fourcc_n("a\0b", 3), 0x61206220u);
}

TEST(Fourcc, UnpacksFourCharactersAndATerminator) {
    char text[5] = {'x', 'x', 'x', 'x', 'x'};
    smc_fourcc_str(kFNum, text);
    EXPECT_EQ(std::string(text, 5), std::string("FNum\0", 5));
    smc_fourcc_str(0x41004243, text);
    EXPECT_EQ(std::string(text, 5), std::string("A\0BC\0", 5));
}

TEST_F(Protocol, KeyInformationRequestCarriesOnlyKeyAndCommand) {
    holdKey(kFNum, "ui8 ", 1, {2});
    smc_info info;
    ASSERT_EQ(smc_key_info(kFNum, &info), 0);
    ASSERT_EQ(smc.requests.size(), 1u);
    const auto bytes = wire(smc.requests[0]);
    EXPECT_EQ(littleEndianAt(bytes, 0), kFNum);
    EXPECT_EQ(bytes[42], 9);
    expectZeroExcept(bytes, {0, 1, 2, 3, 42});
    EXPECT_EQ(info.data_size, 1u);
    EXPECT_EQ(info.data_type, smc_fourcc("ui8 "));
    EXPECT_EQ(info.attributes, 0xD0);
}

TEST_F(Protocol, ReadAsksWithTheDescribedSizeAndCopiesAllThirtyTwoBytes) {
    std::vector<uint8_t> value(32, 0);
    value[0] = 0x09;
    value[1] = 0xC4;
    value[5] = 0x77;  // past the data size: still the reply's byte
    value[31] = 0x55;
    holdKey(kFNum, "fpe2", 2, value);
    smc_info info;
    uint8_t out[32];
    std::memset(out, 0xAB, sizeof out);
    ASSERT_EQ(smc_read(kFNum, &info, out), 0);
    ASSERT_EQ(smc.requests.size(), 2u);
    const auto bytes = wire(smc.requests[1]);
    EXPECT_EQ(littleEndianAt(bytes, 0), kFNum);
    EXPECT_EQ(littleEndianAt(bytes, 28), 2u);
    EXPECT_EQ(bytes[42], 5);
    expectZeroExcept(bytes, {0, 1, 2, 3, 28, 42});
    EXPECT_EQ(std::vector<uint8_t>(out, out + 32), value);
    EXPECT_EQ(info.data_type, SMC_TYPE_FPE2);
    EXPECT_EQ(info.data_size, 2u);
}

TEST_F(Protocol, ReadWithoutInfoStillFillsTheBuffer) {
    holdKey(kFNum, "ui8 ", 1, {3});
    uint8_t out[32] = {};
    EXPECT_EQ(smc_read(kFNum, nullptr, out), 0);
    EXPECT_EQ(out[0], 3);
}

TEST_F(Protocol, FailedReadLeavesBothOutputsUntouched) {
    struct Case {
        uint8_t infoResult;
        uint8_t readResult;
        size_t exchanges;
    };
    for (const Case c : {Case{0x84, 0, 1}, Case{0, 0x85, 2}}) {
        smc_set_transport_factory(smc.factory());  // a fresh connection remembers no key
        smc.requests.clear();
        smc.answer = [c](const smc_param& request, smc_param& reply) {
            reply.result = request.command == SMC_CMD_KEY_INFO ? c.infoResult : c.readResult;
            reply.data_size = 2;
            reply.data_type = SMC_TYPE_SP78;
            reply.bytes[0] = 0x11;
            return 0;
        };
        smc_info info{7, 8, 9};
        uint8_t out[32];
        std::memset(out, 0xAB, sizeof out);
        EXPECT_EQ(smc_read(kFNum, &info, out), c.infoResult ? c.infoResult : c.readResult);
        EXPECT_EQ(smc.requests.size(), c.exchanges);
        EXPECT_EQ(info.data_size, 7u);
        EXPECT_EQ(info.data_type, 8u);
        EXPECT_EQ(info.attributes, 9);
        EXPECT_EQ(out[0], 0xAB);
    }
}

// Type and size do not change while the machine runs: each key is described once per
// connection, a missing one included, and a failed transfer makes the next use describe it again.
TEST_F(Protocol, KeyInformationIsAskedOncePerKey) {
    holdKey(kFNum, "fpe2", 2, {0x09, 0xC4});
    uint8_t out[32];
    const uint8_t bytes[2] = {0x09, 0x91};
    const uint32_t missing = smc_fourcc("Ftst");
    std::vector<int> commands;
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(smc_read(kFNum, nullptr, out), 0);
        ASSERT_EQ(smc_write(kFNum, bytes, 2), 0);
        EXPECT_EQ(smc_read(missing, nullptr, out), SmcResult::keyNotFound);
    }
    for (const smc_param& request : smc.requests) commands.push_back(request.command);
    EXPECT_EQ(commands, (std::vector<int>{9, 5, 6, 9, 5, 6}));

    // A refused length is checked against a fresh description, and a failed read forgets it.
    smc.requests.clear();
    EXPECT_EQ(smc_write(kFNum, bytes, 1), -2);
    smc.answer = [](const smc_param&, smc_param& reply) {
        reply.result = SmcResult::sizeMismatch;
        return 0;
    };
    EXPECT_EQ(smc_read(kFNum, nullptr, out), SmcResult::sizeMismatch);
    EXPECT_EQ(smc_read(kFNum, nullptr, out), SmcResult::sizeMismatch);
    commands.clear();
    for (const smc_param& request : smc.requests) commands.push_back(request.command);
    EXPECT_EQ(commands, (std::vector<int>{9, 5, 9}));
}

TEST_F(Protocol, ResultByteIsReturnedAsAnUnsignedStatus) {
    smc.answer = [](const smc_param&, smc_param& reply) {
        reply.result = 0xB8;
        return 0;
    };
    smc_info info;
    EXPECT_EQ(smc_key_info(kFNum, &info), 184);
}

TEST_F(Protocol, PlatformStatusIsReturnedUnchangedAndTheReplyIgnored) {
    smc.answer = [](const smc_param&, smc_param& reply) {
        reply.data_size = 4;
        return SMC_STATUS_TIMEOUT;
    };
    smc_info info;
    EXPECT_EQ(smc_key_info(kFNum, &info), SMC_STATUS_TIMEOUT);
    EXPECT_EQ(info.data_size, 0u);
}

struct WriteCase {
    uint32_t dataSize;
    uint32_t length;
};

TEST_F(Protocol, WriteOfAWrongLengthIsRefusedAfterOneKeyInformationExchange) {
    for (const WriteCase c :
         {WriteCase{4, 33}, WriteCase{33, 33}, WriteCase{4, 2}, WriteCase{2, 4}, WriteCase{1, 0}}) {
        smc_set_transport_factory(smc.factory());
        smc.requests.clear();
        holdKey(kFNum, "flt ", c.dataSize, {});
        const std::vector<uint8_t> bytes(40, 1);
        EXPECT_EQ(smc_write(kFNum, bytes.data(), c.length), -2) << c.dataSize << " " << c.length;
        ASSERT_EQ(smc.requests.size(), 1u);
        EXPECT_EQ(smc.requests[0].command, SMC_CMD_KEY_INFO);
    }
}

TEST_F(Protocol, WriteOfAnUnknownKeyReturnsTheKeyInformationStatus) {
    const uint8_t byte = 1;
    EXPECT_EQ(smc_write(kFNum, &byte, 1), SmcResult::keyNotFound);
    EXPECT_EQ(smc.requests.size(), 1u);
}

TEST_F(Protocol, WriteRequestCarriesKeySizeCommandAndBytes) {
    holdKey(kFNum, "fpe2", 2, {});
    const uint8_t bytes[2] = {0x09, 0x91};
    ASSERT_EQ(smc_write(kFNum, bytes, 2), 0);
    ASSERT_EQ(smc.requests.size(), 2u);
    const auto sent = wire(smc.requests[1]);
    EXPECT_EQ(littleEndianAt(sent, 0), kFNum);
    EXPECT_EQ(littleEndianAt(sent, 28), 2u);
    EXPECT_EQ(sent[42], 6);
    EXPECT_EQ(sent[48], 0x09);
    EXPECT_EQ(sent[49], 0x91);
    expectZeroExcept(sent, {0, 1, 2, 3, 28, 42, 48, 49});
}

TEST_F(Protocol, WriteReturnsTheWriteExchangeResult) {
    smc.answer = [](const smc_param& request, smc_param& reply) {
        reply.data_size = 1;
        reply.result = request.command == SMC_CMD_WRITE_BYTES ? SmcResult::notWritable : 0;
        return 0;
    };
    const uint8_t byte = 1;
    EXPECT_EQ(smc_write(kFNum, &byte, 1), SmcResult::notWritable);
}

TEST_F(Protocol, KeyAtIndexSendsTheIndexAndReturnsTheReplyKey) {
    smc.answer = [](const smc_param& request, smc_param& reply) {
        if (request.index == 7) putLittleEndian(reply, 0, kFNum);
        if (request.index == 8) reply.result = SmcResult::badArgument;
        return 0;
    };
    EXPECT_EQ(smc_key_at_index(7), kFNum);
    const auto bytes = wire(smc.requests[0]);
    EXPECT_EQ(bytes[42], 8);
    EXPECT_EQ(littleEndianAt(bytes, 44), 7u);
    expectZeroExcept(bytes, {42, 44});
    EXPECT_EQ(smc_key_at_index(8), 0u);
}

TEST_F(Protocol, KeyCountIsTheBigEndianValueOfKEYWhateverItsType) {
    holdKey(smc_fourcc("#KEY"), "ui8 ", 1, {0x00, 0x00, 0x01, 0x2C});
    EXPECT_EQ(smc_key_count(), 300u);
    holdKey(kFNum, "ui32", 4, {});
    EXPECT_EQ(smc_key_count(), 0u);
}

TEST_F(Protocol, ReadDoubleLeavesTheOutputAloneWhenTheTypeDoesNotDecode) {
    double out = 42;
    holdKey(kFNum, "flt ", 2, {0x00, 0x00, 0x48, 0x42});
    EXPECT_EQ(smc_read_double(kFNum, &out), 0);
    smc_set_transport_factory(smc.factory());  // another machine: the key described afresh
    holdKey(kFNum, "ch8*", 4, {0x41});
    EXPECT_EQ(smc_read_double(kFNum, &out), 0);
    EXPECT_EQ(out, 42);
    smc_set_transport_factory(smc.factory());
    holdKey(kFNum, "flt ", 4, {0x00, 0x00, 0x48, 0x42});
    EXPECT_EQ(smc_read_double(kFNum, &out), 1);
    EXPECT_EQ(out, 50);
}

TEST_F(Protocol, OpensOnceAndKeepsTheConnection) {
    ASSERT_EQ(smc_open(), 0);
    const uint32_t conn = g_conn;
    EXPECT_NE(conn, 0u);
    EXPECT_EQ(smc_open(), 0);
    smc_info info;
    smc_key_info(kFNum, &info);
    EXPECT_EQ(smc.opens, 1);
    EXPECT_EQ(g_conn, conn);
}

TEST_F(Protocol, FailedExchangesDoNotCloseTheConnection) {
    smc.answer = [](const smc_param&, smc_param&) { return SMC_STATUS_NOT_RESPONDING; };
    smc_info info;
    EXPECT_EQ(smc_key_info(kFNum, &info), SMC_STATUS_NOT_RESPONDING);
    EXPECT_EQ(smc_key_info(kFNum, &info), SMC_STATUS_NOT_RESPONDING);
    EXPECT_EQ(smc.opens, 1);
    EXPECT_NE(g_conn, 0u);
}

TEST_F(Protocol, WithoutAnSmcEveryOperationFailsAndEachExchangeTriesToOpenAgain) {
    smc.openStatus = -1;
    EXPECT_EQ(smc_open(), -1);
    EXPECT_EQ(g_conn, 0u);
    uint8_t out[32];
    smc_info info;
    double value = 5;
    EXPECT_EQ(smc_read(kFNum, &info, out), -1);
    EXPECT_EQ(smc_key_count(), 0u);
    EXPECT_EQ(smc_key_at_index(0), 0u);
    EXPECT_EQ(smc_read_double(kFNum, &value), 0);
    EXPECT_EQ(smc_write(kFNum, out, 1), -1);
    EXPECT_EQ(value, 5);
    EXPECT_EQ(smc.opens, 6);
    EXPECT_TRUE(smc.requests.empty());
    EXPECT_TRUE(SMC::allKeys().empty());
    EXPECT_FALSE(SMC::open());
}

TEST_F(Protocol, AFailedOpenReportsItsStatusButAnExchangeReportsMinusOne) {
    smc.openStatus = kOpenRefused;
    EXPECT_EQ(smc_open(), kOpenRefused);
    smc_info info;
    EXPECT_EQ(smc_key_info(kFNum, &info), -1);
    smc.openStatus = 0;
    holdKey(kFNum, "ui8 ", 1, {2});
    EXPECT_EQ(smc_key_info(kFNum, &info), 0);
    EXPECT_EQ(smc_key_info(kFNum, &info), 0);
    EXPECT_EQ(smc.opens, 3);
}

TEST_F(Protocol, ReplacingTheFactoryForgetsTheConnection) {
    ASSERT_EQ(smc_open(), 0);
    Recording other;
    smc_set_transport_factory(other.factory());
    EXPECT_EQ(g_conn, 0u);
    smc_info info;
    smc_key_info(kFNum, &info);
    EXPECT_TRUE(smc.requests.empty());
    EXPECT_EQ(other.requests.size(), 1u);
}

TEST_F(Protocol, AllKeysWalksTheIndexAndDropsFailedLookups) {
    smc.answer = [](const smc_param& request, smc_param& reply) {
        if (request.command == SMC_CMD_KEY_INFO) {
            reply.data_size = 4;
            reply.data_type = SMC_TYPE_UI32;
        } else if (request.command == SMC_CMD_READ_BYTES) {
            reply.bytes[3] = 3;
        } else if (request.command == SMC_CMD_KEY_AT_INDEX) {
            if (request.index == 1) reply.result = SmcResult::error;
            reply.key = 0x41414141 + request.index;
        }
        return 0;
    };
    EXPECT_EQ(SMC::allKeys(), (std::vector<uint32_t>{0x41414141, 0x41414143}));
    EXPECT_EQ(smc.requests.size(), 2u + 3u);
}

TEST_F(Protocol, AllKeysWithoutACountAsksNothingMore) {
    EXPECT_TRUE(SMC::allKeys().empty());
    EXPECT_EQ(smc.requests.size(), 1u);
}

TEST_F(Protocol, WriteNumberSendsNoWriteForATypeItCannotEncode) {
    for (const char* type : {"sp78", "ioft", "ui32", "si8 ", "si16"}) {
        smc_set_transport_factory(smc.factory());
        smc.requests.clear();
        smc.answer = [type](const smc_param&, smc_param& reply) {
            reply.data_type = smc_fourcc(type);
            reply.data_size = 2;
            return 0;
        };
        EXPECT_FALSE(SMC::writeNumber("TC0P", 40)) << type;
        EXPECT_EQ(smc.requests.size(), 1u) << type;
    }
}

TEST(SmcName, TextUpToTheFirstZeroWithInvalidBytesReplaced) {
    EXPECT_EQ(SMC::name(kFNum), "FNum");
    EXPECT_EQ(SMC::name(0x46004E75), "F");
    EXPECT_EQ(SMC::name(0x00414243), "");
    EXPECT_EQ(SMC::name(0xFF414243),
              "\xEF\xBF\xBD"
              "ABC");
    EXPECT_EQ(SMC::name(0x54C3A920), "T\xC3\xA9 ");  // a valid two-byte character stays
    EXPECT_EQ(SMC::name(smc_fourcc("FS! ")), "FS! ");
}

}  // namespace
