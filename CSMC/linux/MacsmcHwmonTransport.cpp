#include "CSMC/linux/MacsmcHwmonTransport.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <span>
#include <system_error>
#include <utility>

#include "CSMC/codec.h"
#include "CSMC/linux/SysfsFile.h"

namespace {

constexpr uint32_t kFanCount = smc_code("FNum");
constexpr uint8_t kAttrRead = 0x80;
constexpr uint8_t kAttrWrite = 0x40;
// Key texts hold one digit for the fan.
constexpr uint32_t kMaxFans = 10;

constexpr std::string_view kDriverName = "macsmc_hwmon";

std::string fanFile(uint32_t fan, std::string_view suffix) {
    return "fan" + std::to_string(fan + 1) + "_" + std::string(suffix);
}

bool present(const std::filesystem::path& path) {
    std::error_code error;
    return std::filesystem::exists(path, error);
}

}  // namespace

MacsmcHwmonTransport::MacsmcHwmonTransport(std::filesystem::path hwmonDir,
                                           std::filesystem::path parameter,
                                           std::filesystem::path root)
    : dir_(std::move(hwmonDir)), parameter_(std::move(parameter)), root_(std::move(root)) {}

std::optional<std::filesystem::path> MacsmcHwmonTransport::find(const std::filesystem::path& root) {
    std::vector<std::filesystem::path> found;
    for (const std::filesystem::path& folder : SysfsFile::entries(root / "sys/class/hwmon")) {
        const auto name = SysfsFile::read(folder / "name", 64);
        if (!name || SysfsFile::trim(*name) != kDriverName) continue;
        if (present(folder / "fan1_input")) found.push_back(folder);
    }
    if (found.empty()) return std::nullopt;
    // Directory order varies from run to run; the lowest folder is the same every time.
    return *std::min_element(found.begin(), found.end());
}

int32_t MacsmcHwmonTransport::open() {
    fanCount_ = 0;
    while (fanCount_ < kMaxFans && present(dir_ / fanFile(fanCount_, "input"))) ++fanCount_;
    modes_.assign(fanCount_, 0);
    return fanCount_ == 0 ? SMC_STATUS_IO_ERROR : 0;
}

void MacsmcHwmonTransport::relocate() {
    if (root_.empty() || present(dir_ / "name")) return;
    const auto now = std::chrono::steady_clock::now();
    if (now - lastLook_ < std::chrono::seconds(1)) return;
    lastLook_ = now;
    const std::optional<std::filesystem::path> found = find(root_);
    if (!found) return;
    // The SMC kept its fans' modes through the driver's reload; only the files moved.
    dir_ = *found;
}

int MacsmcHwmonTransport::writeAttribute(const std::string& name, std::string_view text) {
    return SysfsFile::write(dir_ / name, text);
}

// The driver gives fan<N>_target write permission exactly when fan_control is set and the fan
// has a mode key, so the file's mode answers without trying a write.
bool MacsmcHwmonTransport::targetWritable(uint32_t fan) const {
    struct stat info {};
    if (::stat((dir_ / fanFile(fan, "target")).c_str(), &info) != 0) return false;
    return (info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0;
}

std::string MacsmcHwmonTransport::writeBlocked() const {
    for (uint32_t fan = 0; fan < fanCount_; ++fan) {
        // A target file that went away is a fault to report, not a driver that refuses writes.
        if (targetWritable(fan) || !present(dir_ / fanFile(fan, "target"))) return {};
    }
    // The option only takes effect when the driver registers its files, so a "Y" here without a
    // writable target means it was set after the module loaded.
    const auto option = SysfsFile::read(parameter_, 16);
    if (option && SysfsFile::trim(*option) == "Y") {
        return "fan control off: reload macsmc_hwmon to apply fan_control=1";
    }
    return "fan control off: boot with macsmc_hwmon.fan_control=1";
}

std::optional<MacsmcHwmonTransport::Key> MacsmcHwmonTransport::keyFor(uint32_t code) const {
    if (code == kFanCount) return Key{Field::count, 0};
    const char digit = static_cast<char>(code >> 16);
    if ((code >> 24) != 'F' || digit < '0' || digit > '9') return std::nullopt;
    const auto fan = static_cast<uint32_t>(digit - '0');
    if (fan >= fanCount_) return std::nullopt;
    struct Suffix {
        uint16_t text;
        Field field;
        std::string_view file;
    };
    static constexpr Suffix kSuffixes[] = {{('A' << 8) | 'c', Field::input, "input"},
                                           {('M' << 8) | 'n', Field::min, "min"},
                                           {('M' << 8) | 'x', Field::max, "max"},
                                           {('T' << 8) | 'g', Field::target, "target"},
                                           {('M' << 8) | 'd', Field::mode, "target"}};
    for (const Suffix& suffix : kSuffixes) {
        if ((code & 0xFFFF) != suffix.text) continue;
        // The driver gives every fan a target file, so the target and the mode stay known when
        // it goes: their reads fail instead of finding no key.
        if (suffix.file != "target" && !present(dir_ / fanFile(fan, suffix.file))) {
            return std::nullopt;
        }
        return Key{suffix.field, fan};
    }
    return std::nullopt;
}

std::optional<long long> MacsmcHwmonTransport::readNumber(uint32_t fan, Field field) const {
    const char* suffix = field == Field::input ? "input"
                         : field == Field::min ? "min"
                         : field == Field::max ? "max"
                                               : "target";
    const auto text = SysfsFile::read(dir_ / fanFile(fan, suffix), 64);
    return text ? SysfsFile::parseInteger(*text) : std::nullopt;
}

int32_t MacsmcHwmonTransport::call(const smc_param& request, smc_param& reply) {
    relocate();
    const std::optional<Key> key =
        request.command == SMC_CMD_KEY_AT_INDEX ? std::nullopt : keyFor(request.key);
    switch (request.command) {
        case SMC_CMD_KEY_INFO:
            if (!key) {
                reply.result = SmcResult::keyNotFound;
                return 0;
            }
            reply.data_size = key->field == Field::count || key->field == Field::mode ? 1 : 4;
            reply.data_type = reply.data_size == 1 ? SMC_TYPE_UI8 : SMC_TYPE_FLT;
            reply.attributes = kAttrRead;
            if ((key->field == Field::target || key->field == Field::mode) &&
                targetWritable(key->fan)) {
                reply.attributes |= kAttrWrite;
            }
            reply.result = 0;
            return 0;
        case SMC_CMD_READ_BYTES:
            reply.result = key ? read(*key, reply.bytes) : SmcResult::keyNotFound;
            return 0;
        case SMC_CMD_WRITE_BYTES:
            reply.result = key ? write(*key, request) : SmcResult::keyNotFound;
            return 0;
        case SMC_CMD_KEY_AT_INDEX:
            // The driver offers no listing; the index is as empty as an unknown key.
            reply.result = SmcResult::keyNotFound;
            return 0;
        default:
            reply.result = SmcResult::badCommand;
            return 0;
    }
}

uint8_t MacsmcHwmonTransport::read(const Key& key, uint8_t (&bytes)[32]) const {
    if (key.field == Field::mode && !present(dir_ / fanFile(key.fan, "target"))) {
        return SmcResult::notReadable;
    }
    if (key.field == Field::count || key.field == Field::mode) {
        bytes[0] = static_cast<uint8_t>(key.field == Field::count ? fanCount_ : modes_[key.fan]);
        return 0;
    }
    const std::optional<long long> value = readNumber(key.fan, key.field);
    if (!value) return SmcResult::notReadable;
    const auto encoded = smc_encode(SMC_TYPE_FLT, 4, static_cast<double>(*value));
    if (!encoded) return SmcResult::notReadable;
    std::copy_n(encoded->bytes.begin(), encoded->length, bytes);
    return 0;
}

uint8_t MacsmcHwmonTransport::write(const Key& key, const smc_param& request) {
    if (key.field != Field::target && key.field != Field::mode) return SmcResult::notWritable;
    if (!targetWritable(key.fan)) return SmcResult::notWritable;
    const uint32_t size = key.field == Field::mode ? 1 : 4;
    if (request.data_size != size) return SmcResult::sizeMismatch;
    const uint32_t type = key.field == Field::mode ? SMC_TYPE_UI8 : SMC_TYPE_FLT;
    const std::optional<double> value =
        smc_decode(type, size, std::span<const uint8_t, 32>(request.bytes));
    if (!value || !std::isfinite(*value)) return SmcResult::badArgument;

    std::string text;
    if (key.field == Field::mode) {
        if (*value == 1) {
            // The driver switches to manual with the first target; nothing to write yet.
            modes_[key.fan] = 1;
            return 0;
        }
        if (*value != 0) return SmcResult::badArgument;
        text = "0";
    } else {
        // 0 would hand the fan back, and the driver trusts no speed outside the fan's range.
        const double rpm = std::round(*value);
        const auto min = readNumber(key.fan, Field::min);
        const auto max = readNumber(key.fan, Field::max);
        if (!min || !max) return SmcResult::notReadable;
        if (rpm < 1 || rpm < static_cast<double>(*min) || rpm > static_cast<double>(*max)) {
            return SmcResult::badArgument;
        }
        text = std::to_string(static_cast<long long>(rpm));
    }
    switch (writeAttribute(fanFile(key.fan, "target"), text)) {
        case 0:
            modes_[key.fan] = key.field == Field::target ? 1 : 0;
            return 0;
        case EINVAL:
            return SmcResult::badArgument;
        case EACCES:
        case EPERM:
        case EROFS:
        case EOPNOTSUPP:
            return SmcResult::notWritable;
        default:
            return SmcResult::error;
    }
}
