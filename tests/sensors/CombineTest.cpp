#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "FanCore/Sensors/Sensors.h"

namespace {

using Pairs = std::vector<Sensors::HidPair>;

struct Case {
    const char* what;
    Sensors::GroupValues groups;
    Pairs pairs;
    Readings expected;
};

const std::vector<Case>& cases() {
    static const std::vector<Case> all = {
        {"no die: cap 130, every chip value counts",
         {.cpu = {60, 120}, .gpu = {125}},
         {{"PMU tcal", 50}},
         {.cpu = 120, .gpu = 125}},
        {"die 50 caps cpu at 75, inclusive",
         {.cpu = {60, 75, 80}},
         {{"PMU tdie1", 50}},
         {.cpu = 75, .die = 50}},
        {"die is the hottest tdie sensor",
         {.cpu = {70}},
         {{"PMU tdie1", 44}, {"PMU tdie2", 46.5}, {"PMU tdie3", 45}},
         {.cpu = 70, .die = 46.5}},
        {"all cpu values above the cap, no HID cpu: cpu falls back to die",
         {.cpu = {90, 100}},
         {{"PMU tdie1", 50}},
         {.cpu = 50, .die = 50}},
        {"all cpu values above the cap, HID cpu present: HID wins over die",
         {.cpu = {90}},
         {{"PMU tdie1", 50}, {"PMU ACC cluster", 58}, {"CPU core 2", 61}},
         {.cpu = 61, .die = 50}},
        {"HID cpu values are not capped",
         {},
         {{"PMU tdie1", 40}, {"CPU core", 80}},
         {.cpu = 80, .die = 40}},
        {"all gpu values above the cap, no HID gpu: gpu absent, no die fallback",
         {.cpu = {55}, .gpu = {90}},
         {{"PMU tdie1", 50}},
         {.cpu = 55, .die = 50}},
        {"gpu from HID when the group is empty",
         {},
         {{"GPU amdgpu edge", 66}, {"GPU amdgpu junction", 71}},
         {.gpu = 71}},
        {"ssd group wins over a hotter NAND sensor",
         {.ssd = {90}},
         {{"NAND CH0 temp", 95}},
         {.ssd = 90}},
        {"ssd and battery from HID when their groups are empty",
         {},
         {{"NAND nvme Composite", 41}, {"gas gauge battery", 31}, {"battery BAT0 temp1", 33}},
         {.ssd = 41, .battery = 33}},
        {"battery group wins over HID",
         {.battery = {29, 30.5}},
         {{"gas gauge battery", 35}},
         {.battery = 30.5}},
        {"matching is case-sensitive",
         {},
         {{"PMU TDIE1", 50}, {"cpu core", 60}, {"gpu", 61}, {"nand", 40}, {"Battery", 30}},
         {}},
        {"wifi, air and palm come from their groups only",
         {.wifi = {41, 43}, .air = {30}, .palm = {28, 27.5}},
         {{"wifi module", 50}},
         {.wifi = 43, .airflow = 30, .palmRest = 28}},
        {"nothing at all", {}, {}, {}},
    };
    return all;
}

TEST(Combine, SourceAndCapRules) {
    for (const Case& c : cases()) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(Sensors::combine(c.groups, c.pairs), c.expected);
    }
}

}  // namespace
