#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "CSMC/CpuBrand.h"
#include "FanCore/Sensors/Chip.h"
#include "SensorRoot.h"

namespace {

TEST(Chip, GenerationOfBrandTexts) {
    const struct {
        const char* brand;
        std::optional<int64_t> generation;
    } cases[] = {
        {"Apple M3 Pro", 3},
        {"Apple M12", 12},
        {"Apple M1 Max", 1},
        {"Apple M2 and M3", 2},
        {"MacBook M3", 3},  // the first M is not followed by a digit; the search goes on
        {"Apple m3", std::nullopt},
        {"Intel(R) Core(TM) i7-9750H CPU @ 2.60GHz", std::nullopt},
        {"AMD Ryzen 7 PRO 4750U", std::nullopt},
        {"", std::nullopt},
        {"M", std::nullopt},
        {"M0", 0},
        {"Apple M007", 7},
        {"Apple M99999999999999999999", std::nullopt},  // overflow: absent, not a later match
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.brand);
        EXPECT_EQ(Chip::generationOf(c.brand), c.generation);
    }
}

TEST(CpuBrand, DeviceTreeModelReducedToTheChip) {
    const struct {
        std::string_view model;
        std::string brand;
    } cases[] = {
        {"Apple MacBook Pro (14-inch, M3 Pro, Nov 2023)", "Apple M3 Pro"},
        {std::string_view("Apple MacBook Air (M1, 2020)\0", 29), "Apple M1"},
        {"Apple Mac Studio (M1 Ultra, 2022)\n", "Apple M1 Ultra"},
        {"Apple iMac (24-inch, M1, 2021)", "Apple M1"},
        {"Raspberry Pi 4 Model B Rev 1.4", "Raspberry Pi 4 Model B Rev 1.4"},
        {"Apple MacBook Pro (13-inch, 2020)", "Apple MacBook Pro (13-inch, 2020)"},
        {"", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.model));
        EXPECT_EQ(CpuBrand::fromDeviceTreeModel(c.model), c.brand);
    }
}

TEST(CpuBrand, FirstModelNameOfCpuinfo) {
    EXPECT_EQ(CpuBrand::fromCpuinfo("processor\t: 0\nvendor_id\t: GenuineIntel\n"
                                    "model name\t: Intel(R) Core(TM) i9-9880H CPU @ 2.30GHz\n"
                                    "\nprocessor\t: 1\nmodel name\t: Other\n"),
              "Intel(R) Core(TM) i9-9880H CPU @ 2.30GHz");
    EXPECT_EQ(CpuBrand::fromCpuinfo("processor\t: 0\nBogoMIPS\t: 48.00\nmodel\t: 1\n"), "");
    EXPECT_EQ(CpuBrand::fromCpuinfo("model name without colon\nmodel name: X"), "X");
}

TEST(CpuBrand, ReadsCpuinfoBeforeTheDeviceTree) {
    SensorRoot root;
    root.write("proc/device-tree/model", std::string("Apple MacBook Air (M2, 2022)\0", 29));
    EXPECT_EQ(CpuBrand::read(root.path()), "Apple M2");
    root.write("proc/cpuinfo", "processor\t: 0\nmodel name\t: Intel(R) Xeon(R) W-3245M\n");
    EXPECT_EQ(CpuBrand::read(root.path()), "Intel(R) Xeon(R) W-3245M");
}

TEST(CpuBrand, Arm64CpuinfoWithoutModelNameUsesTheDeviceTree) {
    SensorRoot root;
    root.write("proc/cpuinfo", "processor\t: 0\nBogoMIPS\t: 48.00\nCPU implementer\t: 0x61\n");
    root.write("sys/firmware/devicetree/base/model",
               std::string("Apple MacBook Pro (14-inch, M3 Pro, Nov 2023)\0", 46));
    EXPECT_EQ(CpuBrand::read(root.path()), "Apple M3 Pro");
}

TEST(CpuBrand, InvalidBytesAreReplacedAndNothingGivesEmpty) {
    SensorRoot root;
    EXPECT_EQ(CpuBrand::read(root.path()), "");
    root.write("proc/cpuinfo", "model name\t: Bad \xff\xfe name\n");
    EXPECT_EQ(CpuBrand::read(root.path()), "Bad \xEF\xBF\xBD\xEF\xBF\xBD name");
}

TEST(Chip, BrandAndGenerationComeFromTheSandboxRoot) {
    SensorRoot root;
    root.write("proc/cpuinfo", "processor\t: 0\nBogoMIPS\t: 48.00\n");
    root.write("proc/device-tree/model", "Apple MacBook Pro (14-inch, M3 Pro, Nov 2023)");
    EXPECT_EQ(Chip::brand(), "Apple M3 Pro");
    EXPECT_EQ(Chip::generation(), 3);
    // Kept once computed, even when the files change.
    root.write("proc/device-tree/model", "Apple Mac mini (M2, 2023)");
    EXPECT_EQ(Chip::generation(), 3);
}

}  // namespace
