#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <string>

#include "CSMC/codec.h"
#include "CSMC/linux/MacsmcHwmonTransport.h"
#include "CSMC/smc.h"
#include "support/Files.h"
#include "support/TempDir.h"

namespace {

namespace fs = std::filesystem;
using support::readText;
using support::writeText;

// The driver's files for a two-fan laptop, fan_control on unless a test takes it away.
class MacsmcHwmonTransportTest : public ::testing::Test {
  protected:
    support::TempDir scratch{"macsmc"};
    fs::path root = scratch.path();
    fs::path dir = root / "sys/class/hwmon/hwmon3";
    fs::path option = root / "sys/module/macsmc_hwmon/parameters/fan_control";

    void SetUp() override {
        writeText(root / "sys/class/hwmon/hwmon0/name", "macsmc_battery\n");
        writeText(dir / "name", "macsmc_hwmon\n");
        for (const char* fan : {"fan1", "fan2"}) {
            writeText(dir / (std::string(fan) + "_input"), "2401\n");
            writeText(dir / (std::string(fan) + "_min"), "1200\n");
            writeText(dir / (std::string(fan) + "_max"), "5779\n");
            writeText(dir / (std::string(fan) + "_target"), "2400\n");
        }
        writeText(option, "Y\n");
    }

    void readOnly() {
        for (const char* file : {"fan1_target", "fan2_target"}) {
            ::chmod((dir / file).c_str(), 0444);
        }
        writeText(option, "N\n");
    }

    MacsmcHwmonTransport open() {
        MacsmcHwmonTransport transport(dir, option);
        EXPECT_EQ(transport.open(), 0);
        return transport;
    }

    static smc_param exchange(MacsmcHwmonTransport& transport, const char* key, uint8_t command,
                              double value = 0) {
        smc_param request{};
        smc_param reply{};
        request.key = smc_fourcc(key);
        request.command = command;
        if (command == SMC_CMD_WRITE_BYTES) {
            const bool mode = key[2] == 'M' && key[3] == 'd';
            const auto encoded =
                smc_encode(mode ? SMC_TYPE_UI8 : SMC_TYPE_FLT, mode ? 1 : 4, value);
            request.data_size = encoded->length;
            std::copy_n(encoded->bytes.begin(), encoded->length, request.bytes);
        }
        EXPECT_EQ(transport.call(request, reply), 0);
        return reply;
    }
};

TEST_F(MacsmcHwmonTransportTest, FindsTheDriverFolderWithFans) {
    EXPECT_EQ(MacsmcHwmonTransport::find(root), dir);
    fs::remove(dir / "fan1_input");
    EXPECT_FALSE(MacsmcHwmonTransport::find(root).has_value());
}

TEST_F(MacsmcHwmonTransportTest, FanKeysReadTheFilesAndTheRestIsUnknown) {
    MacsmcHwmonTransport transport = open();
    smc_param reply = exchange(transport, "FNum", SMC_CMD_READ_BYTES);
    EXPECT_EQ(reply.result, 0);
    EXPECT_EQ(reply.bytes[0], 2);
    reply = exchange(transport, "F1Ac", SMC_CMD_KEY_INFO);
    EXPECT_EQ(reply.data_type, SMC_TYPE_FLT);
    reply = exchange(transport, "F1Ac", SMC_CMD_READ_BYTES);
    EXPECT_EQ(smc_decode(SMC_TYPE_FLT, 4, std::span<const uint8_t, 32>(reply.bytes)), 2401.0);
    for (const char* unknown : {"#KEY", "Ftst", "F2Ac", "TB0T"}) {
        SCOPED_TRACE(unknown);
        EXPECT_EQ(exchange(transport, unknown, SMC_CMD_KEY_INFO).result, SmcResult::keyNotFound);
        EXPECT_EQ(exchange(transport, unknown, SMC_CMD_READ_BYTES).result, SmcResult::keyNotFound);
    }
    EXPECT_EQ(exchange(transport, "F0Ac", SMC_CMD_KEY_AT_INDEX).result, SmcResult::keyNotFound);
}

TEST_F(MacsmcHwmonTransportTest, TargetTakesTheFanAndModeZeroHandsItBack) {
    MacsmcHwmonTransport transport = open();
    EXPECT_EQ(exchange(transport, "F0Md", SMC_CMD_WRITE_BYTES, 1).result, 0);
    EXPECT_EQ(readText(dir / "fan1_target"), "2400\n");  // nothing to write before a speed
    EXPECT_EQ(exchange(transport, "F0Tg", SMC_CMD_WRITE_BYTES, 3100.4).result, 0);
    EXPECT_EQ(readText(dir / "fan1_target"), "3100");
    EXPECT_EQ(exchange(transport, "F0Md", SMC_CMD_READ_BYTES).bytes[0], 1);
    EXPECT_EQ(exchange(transport, "F0Md", SMC_CMD_WRITE_BYTES, 0).result, 0);
    EXPECT_EQ(readText(dir / "fan1_target"), "0");
    EXPECT_EQ(exchange(transport, "F0Md", SMC_CMD_READ_BYTES).bytes[0], 0);
    EXPECT_EQ(transport.writeBlocked(), "");
}

TEST_F(MacsmcHwmonTransportTest, SpeedsTheDriverWouldRefuseAreNeverWritten) {
    MacsmcHwmonTransport transport = open();
    for (const double rpm : {0.0, 1199.0, 5780.0, -3000.0}) {
        SCOPED_TRACE(rpm);
        EXPECT_EQ(exchange(transport, "F0Tg", SMC_CMD_WRITE_BYTES, rpm).result,
                  SmcResult::badArgument);
    }
    EXPECT_EQ(exchange(transport, "F0Md", SMC_CMD_WRITE_BYTES, 2).result, SmcResult::badArgument);
    EXPECT_EQ(exchange(transport, "F0Mx", SMC_CMD_WRITE_BYTES, 3000).result,
              SmcResult::notWritable);
    EXPECT_EQ(readText(dir / "fan1_target"), "2400\n");
    EXPECT_EQ(exchange(transport, "F0Md", SMC_CMD_READ_BYTES).bytes[0], 0);
}

TEST_F(MacsmcHwmonTransportTest, WithoutFanControlEveryWriteIsRefusedAndSaysWhy) {
    readOnly();
    MacsmcHwmonTransport transport = open();
    EXPECT_EQ(exchange(transport, "F0Tg", SMC_CMD_KEY_INFO).attributes & 0x40, 0);
    EXPECT_EQ(exchange(transport, "F0Tg", SMC_CMD_WRITE_BYTES, 3000).result,
              SmcResult::notWritable);
    EXPECT_EQ(exchange(transport, "F0Md", SMC_CMD_WRITE_BYTES, 0).result, SmcResult::notWritable);
    EXPECT_EQ(readText(dir / "fan1_target"), "2400\n");
    EXPECT_EQ(transport.writeBlocked(), "fan control off: boot with macsmc_hwmon.fan_control=1");
    // Set after the module loaded: the files keep their modes until it is loaded again.
    writeText(option, "Y\n");
    EXPECT_EQ(transport.writeBlocked(),
              "fan control off: reload macsmc_hwmon to apply fan_control=1");
}

// A fan's target file gone (the device unregistered) leaves its mode unknown, not automatic;
// the device registered again under another number is followed there.
TEST_F(MacsmcHwmonTransportTest, AVanishedTargetIsAnUnreadableModeAndAMovedDeviceIsFollowed) {
    MacsmcHwmonTransport transport(dir, option, root);
    ASSERT_EQ(transport.open(), 0);
    EXPECT_EQ(exchange(transport, "F0Tg", SMC_CMD_WRITE_BYTES, 3100).result, 0);
    fs::remove(dir / "fan1_target");
    EXPECT_EQ(exchange(transport, "F0Md", SMC_CMD_KEY_INFO).result, 0);
    EXPECT_EQ(exchange(transport, "F0Md", SMC_CMD_READ_BYTES).result, SmcResult::notReadable);
    EXPECT_NE(exchange(transport, "F0Md", SMC_CMD_WRITE_BYTES, 0).result, 0);
    EXPECT_EQ(transport.writeBlocked(), "") << "a fault, not a driver refusing writes";
    fs::rename(dir, root / "sys/class/hwmon/hwmon7");
    writeText(root / "sys/class/hwmon/hwmon7/fan1_target", "3100\n");
    EXPECT_EQ(exchange(transport, "F0Md", SMC_CMD_READ_BYTES).bytes[0], 1) << "the SMC kept it";
    EXPECT_EQ(exchange(transport, "F0Md", SMC_CMD_WRITE_BYTES, 0).result, 0);
    EXPECT_EQ(readText(root / "sys/class/hwmon/hwmon7/fan1_target"), "0");
}

// A refusal the driver makes itself reaches the caller as the SMC's own kind of refusal.
class RefusingDriver : public MacsmcHwmonTransport {
  public:
    using MacsmcHwmonTransport::MacsmcHwmonTransport;
    int error = EINVAL;

  protected:
    int writeAttribute(const std::string&, std::string_view) override { return error; }
};

TEST_F(MacsmcHwmonTransportTest, DriverRefusalsBecomeResultBytes) {
    RefusingDriver transport(dir, option);
    ASSERT_EQ(transport.open(), 0);
    const struct {
        int error;
        uint8_t result;
    } cases[] = {{EINVAL, SmcResult::badArgument},
                 {EOPNOTSUPP, SmcResult::notWritable},
                 {EACCES, SmcResult::notWritable},
                 {EIO, SmcResult::error}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.error);
        transport.error = c.error;
        EXPECT_EQ(exchange(transport, "F1Tg", SMC_CMD_WRITE_BYTES, 3000).result, c.result);
        EXPECT_EQ(exchange(transport, "F1Md", SMC_CMD_READ_BYTES).bytes[0], 0);
    }
}

}  // namespace
