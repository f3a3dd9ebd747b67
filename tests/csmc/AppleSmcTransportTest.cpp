#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "CSMC/linux/AppleSmcTransport.h"
#include "CSMC/smc.h"
#include "FanCore/SMC/SMC.h"
#include "SmcSandbox.h"

namespace {

namespace fs = std::filesystem;

// Writes raw bytes, whatever the key's type or size; true when the SMC took them.
bool writeRaw(const char* key, std::vector<uint8_t> bytes) {
    return smc_write(smc_fourcc(key), bytes.data(), static_cast<uint32_t>(bytes.size())) == 0;
}

// One key as the driver prints it: its name, its type as key_at_index_type shows it (a type whose
// fourth byte is NUL loses it), and its value bytes.
struct DriverKey {
    std::string name;
    std::string type;
    std::vector<uint8_t> bytes;
};

// The SMC of a two-fan Intel laptop, in the SMC's own (code) order.
const std::vector<DriverKey> kIntelKeys = {
    {"#KEY", "ui32", {0, 0, 0, 25}},
    {"ACID", "ch8*", {0x8A, 0x51, 0x2D, 0x17, 0x00, 0x00, 0x00, 0x00}},
    {"BNum", "ui8 ", {1}},
    {"F0Ac", "fpe2", {0x14, 0x4C}},
    {"F0ID", "{fds", {0, 0, 0, 0, 'L', 'e', 'f', 't', ' ', 's', 'i', 'd', 'e', 0, 0, 0}},
    {"F0Mn", "fpe2", {0x12, 0xC0}},
    {"F0Mx", "fpe2", {0x60, 0x30}},
    {"F0Sf", "fpe2", {0x00, 0x00}},
    {"F0Tg", "fpe2", {0x12, 0xC0}},
    {"F1Ac", "fpe2", {0x14, 0x54}},
    {"F1Mn", "fpe2", {0x12, 0xC0}},
    {"F1Mx", "fpe2", {0x59, 0x10}},
    {"F1Tg", "fpe2", {0x12, 0xC0}},
    {"FNum", "ui8", {2}},
    {"FS! ", "ui16", {0x00, 0x00}},
    {"LKSB", "{lkb", {0x00, 0x01}},
    {"MSLD", "ui8", {0}},
    {"TA0P", "sp78", {0x18, 0x80}},
    {"TB0T", "sp78", {0x1F, 0x40}},
    {"TC0D", "sp78", {0x3A, 0x80}},
    {"TC0P", "sp78", {0x37, 0xC0}},
    {"TG0P", "sp78", {0x31, 0x00}},
    {"TN0D", "sp78", {0xFF, 0x40}},
    {"Th1H", "sp78", {0x2F, 0x40}},
    {"Ts0P", "sp78", {0x1E, 0x80}},
};

// The driver's key_at_index files over a temporary folder: selecting an index publishes that
// key's name, type, length and bytes, as the kernel does when they are read.
class EmulatedDriver : public AppleSmcTransport {
  public:
    EmulatedDriver(fs::path dir, Access access, int interference = 0,
                   const std::vector<DriverKey>& keys = kIntelKeys)
        : AppleSmcTransport(dir, access),
          dir_(std::move(dir)),
          interference_(interference),
          keys_(keys) {}

    int selections = 0;

  protected:
    bool writeAttribute(const std::string& name, std::string_view text) override {
        if (name != "key_at_index") return AppleSmcTransport::writeAttribute(name, text);
        const unsigned long index = std::stoul(std::string(text));
        if (index >= keys_.size()) return false;  // the driver's EINVAL
        ++selections;
        publish(index);
        // Another root process selecting its own key before this one reads.
        if (interference_ > 0) {
            --interference_;
            publish((index + 1) % keys_.size());
        }
        return true;
    }

  private:
    void publish(size_t index) {
        const DriverKey& key = keys_[index];
        writeText(dir_ / "key_at_index", std::to_string(index) + "\n");
        writeText(dir_ / "key_at_index_name", key.name + "\n");
        writeText(dir_ / "key_at_index_type", key.type + "\n");
        writeText(dir_ / "key_at_index_data_length", std::to_string(key.bytes.size()) + "\n");
        writeText(dir_ / "key_at_index_data", std::string(key.bytes.begin(), key.bytes.end()));
    }

    fs::path dir_;
    int interference_;
    const std::vector<DriverKey>& keys_;
};

std::vector<std::string> names(const std::vector<uint32_t>& codes) {
    std::vector<std::string> out;
    for (const uint32_t code : codes) out.push_back(SMC::name(code));
    return out;
}

class AppleSmc : public ::testing::Test {
  protected:
    void SetUp() override {
        dir = sandbox.path() / "sys/devices/platform/applesmc.768";
        writeText(dir / "name", "applesmc\n");
        writeText(dir / "key_count", std::to_string(kIntelKeys.size()) + "\n");
        writeText(dir / "key_at_index", "0\n");
        const std::vector<std::pair<std::string, std::string>> files = {
            {"fan1_label", "Left side  \n"},
            {"fan1_input", "1299\n"},
            {"fan1_min", "1200\n"},
            {"fan1_max", "6156\n"},
            {"fan1_safe", "0\n"},
            {"fan1_output", "1200\n"},
            {"fan1_manual", "0\n"},
            {"fan2_label", "Right side \n"},
            {"fan2_input", "1301\n"},
            {"fan2_min", "1200\n"},
            {"fan2_max", "5700\n"},
            {"fan2_output", "1200\n"},
            {"fan2_manual", "0\n"},
            {"temp1_label", "TA0P\n"},
            {"temp1_input", "24500\n"},
            {"temp2_label", "TB0T\n"},
            {"temp2_input", "31250\n"},
            {"temp3_label", "TC0D\n"},
            {"temp3_input", "58500\n"},
            {"temp4_label", "TC0P\n"},
            {"temp4_input", "55750\n"},
            {"temp5_label", "TG0P\n"},
            {"temp5_input", "49000\n"},
            {"temp6_label", "TN0D\n"},
            {"temp6_input", "-750\n"},
            {"temp7_label", "Th1H\n"},
            {"temp7_input", "47250\n"},
            {"temp8_label", "Ts0P\n"},
            {"temp8_input", "30500\n"},
        };
        for (const auto& [file, text] : files) writeText(dir / file, text);
    }

    // Installs the emulated driver as the process's SMC.
    EmulatedDriver* use(AppleSmcTransport::Access access, int interference = 0,
                        const std::vector<DriverKey>& keys = kIntelKeys) {
        auto driver = std::make_unique<EmulatedDriver>(dir, access, interference, keys);
        EmulatedDriver* raw = driver.get();
        auto shared = std::make_shared<std::unique_ptr<EmulatedDriver>>(std::move(driver));
        smc_set_transport_factory([shared] {
            const int32_t status = (*shared)->open();
            if (status != 0) return SmcOpenResult{status, nullptr};
            return SmcOpenResult{0, std::move(*shared)};
        });
        return raw;
    }

    std::string file(const std::string& name) { return readText(dir / name); }

    SmcSandbox sandbox;
    fs::path dir;
};

TEST(AppleSmcKeys, TestTableIsInTheSmcsOrder) {
    for (size_t i = 1; i < kIntelKeys.size(); ++i) {
        EXPECT_LT(smc_fourcc(kIntelKeys[i - 1].name.c_str()),
                  smc_fourcc(kIntelKeys[i].name.c_str()));
    }
}

TEST_F(AppleSmc, IndexedListsEveryKeyInTheDriversOrder) {
    use(AppleSmcTransport::Access::indexed);
    std::vector<std::string> expected;
    for (const DriverKey& key : kIntelKeys) expected.push_back(key.name);
    EXPECT_EQ(names(SMC::allKeys()), expected);
    EXPECT_EQ(smc_key_count(), kIntelKeys.size());
}

TEST_F(AppleSmc, IndexedReadsDecodeTheSmcsOwnBytes) {
    use(AppleSmcTransport::Access::indexed);
    const std::vector<std::pair<std::string, std::optional<double>>> cases = {
        {"F0Ac", 1299.0},
        {"F0Mx", 6156.0},
        {"F1Ac", 1301.0},
        {"TC0P", 55.75},
        {"TN0D", -0.75},
        {"TB0T", 31.25},
        {"BNum", 1.0},
        {"FS! ", 0.0},
        // "ui8" as printed is "ui8 " again.
        {"FNum", 2.0},
        {"MSLD", 0.0},
        // Types without a codec, and keys the SMC does not have.
        {"ACID", std::nullopt},
        {"F0ID", std::nullopt},
        {"LKSB", std::nullopt},
        {"F2Ac", std::nullopt},
        {"Ftst", std::nullopt},
    };
    for (const auto& [key, value] : cases) EXPECT_EQ(SMC::readDouble(key), value) << key;
    smc_info info;
    ASSERT_EQ(smc_key_info(smc_fourcc("FNum"), &info), 0);
    EXPECT_EQ(info.data_type, smc_fourcc("ui8 "));
    EXPECT_EQ(info.data_size, 1u);
}

// A temperature comes through the index until it has shown a fraction, then from its file, and
// through the index again when its file fails; TG0P reads whole degrees, as a placeholder does.
TEST_F(AppleSmc, IndexedTemperaturesComeFromTheirFiles) {
    EmulatedDriver* driver = use(AppleSmcTransport::Access::indexed);
    ASSERT_TRUE(SMC::exists("TC0P"));
    writeText(dir / "temp4_input", "61250\n");
    writeText(dir / "temp5_input", "48000\n");
    const int start = driver->selections;
    for (const auto& [key, value, selected, file] : {std::tuple{"TC0P", 55.75, 1, ""},
                                                     {"TC0P", 61.25, 1, "garbage\n"},
                                                     {"TC0P", 55.75, 2, ""},
                                                     {"TG0P", 49.0, 3, ""},
                                                     {"TG0P", 49.0, 4, ""}}) {
        EXPECT_EQ(SMC::readDouble(key), value) << key;
        EXPECT_EQ(driver->selections - start, selected) << key;
        if (*file) writeText(dir / "temp4_input", file);
    }
}

// A newer SMC's flt speeds: the mainline driver shows their first two bytes as fpe2.
TEST_F(AppleSmc, FltSpeedsComeFromTheFilesOnlyWhereTheDriverShowsThem) {
    static const std::vector<DriverKey> keys = {
        {"F0Ac", "flt ", {0x00, 0x60, 0xA2, 0x44}},  // 1299 rpm
        {"F0Md", "ui8 ", {0}},
        {"F0Tg", "flt ", {0x00, 0x60, 0xA2, 0x44}},
        {"FNum", "ui8 ", {1}},
    };
    fs::remove(dir / "fan2_input");
    writeText(dir / "key_count", "4\n");
    for (const auto& [shown, fromFile] : {std::pair{"1301\n", true}, {"24\n", false}}) {
        writeText(dir / "fan1_input", shown);
        writeText(dir / "fan1_output", "1299\n");
        EmulatedDriver* driver = use(AppleSmcTransport::Access::indexed, 0, keys);
        ASSERT_TRUE(SMC::exists("F0Tg")) << shown;
        const int selections = driver->selections;
        EXPECT_EQ(SMC::readDouble("F0Tg"), 1299.0) << shown;
        EXPECT_EQ(SMC::readDouble("F0Ac"), fromFile ? 1301.0 : 1299.0) << shown;
        EXPECT_EQ(driver->selections, selections + (fromFile ? 0 : 2)) << shown;
    }
}

TEST_F(AppleSmc, IndexedReadSurvivesAnotherProcessMovingTheIndex) {
    EmulatedDriver* driver = use(AppleSmcTransport::Access::indexed, 2);
    EXPECT_EQ(names(SMC::allKeys()).size(), kIntelKeys.size());
    EXPECT_EQ(SMC::name(SMC::allKeys()[0]), "#KEY");
    EXPECT_EQ(SMC::name(SMC::allKeys()[1]), "ACID");
    EXPECT_EQ(SMC::readDouble("BNum"), 1.0);
    EXPECT_GT(driver->selections, static_cast<int>(kIntelKeys.size()));
}

TEST_F(AppleSmc, WritesGoToTheDriversFanFiles) {
    use(AppleSmcTransport::Access::indexed);
    EXPECT_TRUE(SMC::writeNumber("F0Tg", 3000.2));
    EXPECT_EQ(file("fan1_output"), "3000");
    EXPECT_TRUE(SMC::writeNumber("F1Mn", 1500));
    EXPECT_EQ(file("fan2_min"), "1500");
    EXPECT_TRUE(SMC::writeNumber("FS! ", 2));
    EXPECT_EQ(file("fan1_manual"), "0");
    EXPECT_EQ(file("fan2_manual"), "1");
}

TEST_F(AppleSmc, WritesTheDriverDoesNotOfferAreRefused) {
    use(AppleSmcTransport::Access::indexed);
    EXPECT_FALSE(writeRaw("MSLD", {1}));
    EXPECT_FALSE(writeRaw("F0Ac", {0x20, 0x00}));
    EXPECT_FALSE(writeRaw("F0Mx", {0x20, 0x00}));
    EXPECT_FALSE(writeRaw("TC0P", {0x20, 0x00}));
    EXPECT_FALSE(SMC::writeNumber("Ftst", 1));
    // The driver takes speeds below 16384 rpm only.
    EXPECT_FALSE(SMC::writeNumber("F0Tg", 16383.75));
    EXPECT_EQ(file("fan1_output"), "1200\n");
    EXPECT_EQ(file("fan1_max"), "6156\n");
}

TEST_F(AppleSmc, ModeKeysStandInForAnSmcThatOnlyHasTheManualBits) {
    use(AppleSmcTransport::Access::indexed);
    EXPECT_TRUE(SMC::exists("F0Md"));
    EXPECT_TRUE(SMC::exists("F1Md"));
    EXPECT_FALSE(SMC::exists("F2Md"));
    const auto listed = names(SMC::allKeys());
    EXPECT_EQ(std::count(listed.begin(), listed.end(), "F0Md"), 0);
    EXPECT_TRUE(SMC::writeNumber("F1Md", 1));
    EXPECT_EQ(file("fan2_manual"), "1");
    EXPECT_EQ(SMC::readDouble("F1Md"), 1.0);
    EXPECT_TRUE(SMC::writeNumber("F1Md", 0));
    EXPECT_EQ(file("fan2_manual"), "0");
}

TEST_F(AppleSmc, FailedDriverWriteIsAFailedWrite) {
    use(AppleSmcTransport::Access::indexed);
    fs::remove(dir / "fan1_output");
    fs::create_directory(dir / "fan1_output");
    EXPECT_FALSE(SMC::writeNumber("F0Tg", 2000));
}

TEST_F(AppleSmc, ReadOnlyTableIsRebuiltFromFanAndTemperatureFiles) {
    use(AppleSmcTransport::Access::readOnly);
    const std::vector<std::string> expected = {
        "#KEY", "F0Ac", "F0Md", "F0Mn", "F0Mx", "F0Sf", "F0Tg", "F1Ac", "F1Md", "F1Mn", "F1Mx",
        "F1Tg", "FNum", "FS! ", "TA0P", "TB0T", "TC0D", "TC0P", "TG0P", "TN0D", "Th1H", "Ts0P"};
    EXPECT_EQ(names(SMC::allKeys()), expected);
    const std::vector<std::pair<std::string, std::optional<double>>> cases = {
        {"#KEY", 22.0},         {"FNum", 2.0},          {"F0Ac", 1299.0}, {"F0Mn", 1200.0},
        {"F0Mx", 6156.0},       {"F1Mx", 5700.0},       {"F0Tg", 1200.0}, {"F0Md", 0.0},
        {"FS! ", 0.0},          {"TC0P", 55.75},        {"TN0D", -0.75},  {"TA0P", 24.5},
        {"F1Sf", std::nullopt}, {"MSLD", std::nullopt},
    };
    for (const auto& [key, value] : cases) EXPECT_EQ(SMC::readDouble(key), value) << key;
}

TEST_F(AppleSmc, ReadOnlyValuesFollowTheFiles) {
    use(AppleSmcTransport::Access::readOnly);
    writeText(dir / "fan2_input", "2477\n");
    writeText(dir / "fan2_manual", "1\n");
    writeText(dir / "temp4_input", "61000\n");
    EXPECT_EQ(SMC::readDouble("F1Ac"), 2477.0);
    EXPECT_EQ(SMC::readDouble("F1Md"), 1.0);
    EXPECT_EQ(SMC::readDouble("FS! "), 2.0);
    EXPECT_EQ(SMC::readDouble("TC0P"), 61.0);
    writeText(dir / "temp4_input", "garbage\n");
    EXPECT_EQ(SMC::readDouble("TC0P"), std::nullopt);
    fs::remove(dir / "fan2_input");
    EXPECT_EQ(SMC::readDouble("F1Ac"), std::nullopt);
}

TEST_F(AppleSmc, ReadOnlyWritesUseTheSameFiles) {
    use(AppleSmcTransport::Access::readOnly);
    EXPECT_TRUE(SMC::writeNumber("F0Tg", 2000));
    EXPECT_EQ(file("fan1_output"), "2000");
    EXPECT_TRUE(writeRaw("FS! ", {0x00, 0x03}));
    EXPECT_EQ(file("fan1_manual"), "1");
    EXPECT_EQ(file("fan2_manual"), "1");
    EXPECT_FALSE(writeRaw("TC0P", {0x20, 0x00}));
    EXPECT_EQ(file("temp4_input"), "55750\n");
    EXPECT_FALSE(SMC::writeNumber("F0Ac", 100));
    EXPECT_FALSE(SMC::writeNumber("FNum", 3));
}

TEST_F(AppleSmc, ReadOnlySkipsTemperaturesWithoutALabel) {
    fs::remove(dir / "temp3_label");
    use(AppleSmcTransport::Access::readOnly);
    const auto listed = names(SMC::allKeys());
    EXPECT_EQ(std::count(listed.begin(), listed.end(), "TC0D"), 0);
    EXPECT_EQ(SMC::readDouble("TC0P"), 55.75);
}

TEST_F(AppleSmc, DetectFallsBackToReadOnlyWhenTheIndexGivesNothing) {
    writeText(dir / "key_count", "garbage\n");
    EmulatedDriver* driver = use(AppleSmcTransport::Access::detect);
    EXPECT_EQ(SMC::readDouble("F0Ac"), 1299.0);
    EXPECT_EQ(driver->selections, 0);
    EXPECT_TRUE(driver->readOnly());
}

TEST_F(AppleSmc, DetectWithoutAnIndexFileIsReadOnly) {
    fs::remove(dir / "key_at_index");
    EmulatedDriver* driver = use(AppleSmcTransport::Access::detect);
    EXPECT_EQ(SMC::readDouble("TC0P"), 55.75);
    EXPECT_TRUE(driver->readOnly());
}

TEST_F(AppleSmc, IndexedOpenFailsWhenTheKeyCountIsUnreadable) {
    writeText(dir / "key_count", "\n");
    use(AppleSmcTransport::Access::indexed);
    EXPECT_EQ(smc_open(), SMC_STATUS_IO_ERROR);
    EXPECT_EQ(SMC::readDouble("F0Ac"), std::nullopt);
}

TEST_F(AppleSmc, UnknownCommandIsAFailedResult) {
    // Through the transport itself: the module never sends other commands.
    AppleSmcTransport transport(dir, AppleSmcTransport::Access::readOnly);
    ASSERT_EQ(transport.open(), 0);
    smc_param request{};
    smc_param reply{};
    request.command = 11;
    EXPECT_EQ(transport.call(request, reply), 0);
    EXPECT_NE(reply.result, 0);
    request.command = SMC_CMD_KEY_AT_INDEX;
    request.index = 1000;
    reply = smc_param{};
    EXPECT_EQ(transport.call(request, reply), 0);
    EXPECT_NE(reply.result, 0);
}

// The lookup through the sandbox root, with the real file access.
TEST_F(AppleSmc, LookupFindsTheDriverUnderTheSandboxRoot) {
    smc_set_transport_factory({});
    ASSERT_EQ(smc_open(), 0);
    EXPECT_EQ(SMC::readDouble("F0Ac"), 1299.0);
    EXPECT_EQ(SMC::readDouble("TC0P"), 55.75);
}

TEST(SmcLookup, NoSimulatorAndNoDriverIsNoSmc) {
    SmcSandbox sandbox;
    EXPECT_EQ(smc_open(), -1);
    EXPECT_EQ(g_conn, 0u);
    uint8_t out[32];
    EXPECT_EQ(smc_read(smc_fourcc("FNum"), nullptr, out), -1);
    EXPECT_EQ(smc_key_count(), 0u);
}

TEST(SmcLookup, AFileThatIsNotASocketIsNoSimulator) {
    SmcSandbox sandbox;
    writeText(sandbox.path() / "run/tarnwick-sim/smc.sock", "");
    EXPECT_EQ(smc_open(), -1);
}

TEST(SmcLookup, ASocketNobodyListensOnFailsToOpen) {
    SmcSandbox sandbox;
    const fs::path socketPath = sandbox.path() / "run/tarnwick-sim/smc.sock";
    fs::create_directories(socketPath.parent_path());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(socketPath.string().size(), sizeof address.sun_path);
    std::copy_n(socketPath.c_str(), socketPath.string().size(), address.sun_path);
    ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ::close(fd);  // the file stays, as after a simulator that was killed
    EXPECT_EQ(smc_open(), SMC_STATUS_NOT_RESPONDING);
    smc_info info;
    EXPECT_EQ(smc_key_info(smc_fourcc("FNum"), &info), -1);
}

}  // namespace
