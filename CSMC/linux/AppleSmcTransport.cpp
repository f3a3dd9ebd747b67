#include "CSMC/linux/AppleSmcTransport.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <span>
#include <utility>

#include "CSMC/codec.h"
#include "CSMC/linux/SysfsFile.h"

namespace {

constexpr uint32_t kKeyCount = smc_code("#KEY");
constexpr uint32_t kFanCount = smc_code("FNum");
constexpr uint32_t kManualBits = smc_code("FS! ");
constexpr uint8_t kAttrRead = 0x80;
constexpr uint8_t kAttrWrite = 0x40;
// The driver keeps at most this many fans and refuses speeds that do not fit 14 bits.
constexpr uint32_t kMaxFans = 10;
constexpr long long kMaxWritableRpm = 0x3FFF;
// Another root process selecting a different index between our write and reads is detected by
// reading the index back; a few attempts outlast any such overlap.
constexpr int kSelectAttempts = 3;

struct SpeedFile {
    std::string_view suffix;
    std::string_view file;
};
constexpr SpeedFile kSpeedFiles[] = {
    {"Ac", "input"}, {"Mn", "min"}, {"Mx", "max"}, {"Sf", "safe"}, {"Tg", "output"}};

std::string_view withoutNewline(std::string_view text) {
    if (!text.empty() && text.back() == '\n') text.remove_suffix(1);
    return text;
}

// A key or type as the driver prints it; a code the driver cut at a NUL ("ui8" for "ui8 ") gets
// its spaces back.
uint32_t parseCode(std::string_view text) {
    text = withoutNewline(text);
    return smc_fourcc_n(text.data(), text.size());
}

void putBigEndian(uint8_t (&bytes)[32], uint32_t value, uint32_t length) {
    for (uint32_t i = 0; i < length; ++i) {
        bytes[i] = static_cast<uint8_t>(value >> (8 * (length - 1 - i)));
    }
}

std::string temperatureFile(uint32_t n, std::string_view suffix = "input") {
    return "temp" + std::to_string(n) + "_" + std::string(suffix);
}

std::string fanFile(uint32_t fan, std::string_view suffix) {
    return "fan" + std::to_string(fan + 1) + "_" + std::string(suffix);
}

// "F<fan><suffix>" for a two-letter suffix.
uint32_t fanKey(uint32_t fan, std::string_view suffix) {
    const char text[4] = {'F', static_cast<char>('0' + fan), suffix[0], suffix[1]};
    return smc_fourcc_n(text, 4);
}

// The fan index of "F<digit><suffix>", or absent.
std::optional<uint32_t> fanOf(uint32_t code, std::string_view suffix) {
    const char digit = static_cast<char>(code >> 16);
    if ((code >> 24) != 'F' || digit < '0' || digit > '9') return std::nullopt;
    const auto fan = static_cast<uint32_t>(digit - '0');
    if (code != fanKey(fan, suffix)) return std::nullopt;
    return fan;
}

}  // namespace

AppleSmcTransport::AppleSmcTransport(std::filesystem::path deviceDir, Access access)
    : dir_(std::move(deviceDir)), access_(access) {}

std::optional<std::string> AppleSmcTransport::readAttribute(const std::string& name,
                                                            std::size_t limit) {
    return files_.read(dir_ / name, limit);
}

AppleSmcTransport::~AppleSmcTransport() = default;

bool AppleSmcTransport::selectIndex(uint32_t index) {
    return writeAttribute("key_at_index", std::to_string(index) + "\n");
}

bool AppleSmcTransport::writeAttribute(const std::string& name, std::string_view text) {
    // Written before every key read: kept open.
    if (name == "key_at_index") return files_.write(dir_ / name, text);
    return SysfsFile::write(dir_ / name, text) == 0;
}

bool AppleSmcTransport::hasAttribute(const std::string& name) const {
    std::error_code error;
    return std::filesystem::exists(dir_ / name, error);
}

int32_t AppleSmcTransport::open() {
    files_.clear();
    keys_.clear();
    byCode_.clear();
    listed_ = 0;
    readOnly_ = false;
    scanFans();
    bool indexed = access_ == Access::indexed;
    if (access_ == Access::detect) {
        const int fd = ::open((dir_ / "key_at_index").c_str(), O_WRONLY | O_CLOEXEC);
        indexed = fd >= 0;
        if (fd >= 0) ::close(fd);
    }
    if (indexed) {
        const int32_t status = openIndexed();
        if (status == 0 || access_ == Access::indexed) return status;
        keys_.clear();
        byCode_.clear();
        listed_ = 0;
    }
    return openReadOnly();
}

void AppleSmcTransport::scanFans() {
    fanCount_ = 0;
    while (fanCount_ < kMaxFans && hasAttribute(fanFile(fanCount_, "input"))) ++fanCount_;
}

void AppleSmcTransport::addKey(Key key) {
    if (key.code != 0 && !byCode_.contains(key.code)) byCode_.emplace(key.code, keys_.size());
    keys_.push_back(std::move(key));
}

AppleSmcTransport::Key* AppleSmcTransport::find(uint32_t code) {
    const auto it = byCode_.find(code);
    return it == byCode_.end() ? nullptr : &keys_[it->second];
}

const AppleSmcTransport::Key* AppleSmcTransport::find(uint32_t code) const {
    return const_cast<AppleSmcTransport*>(this)->find(code);
}

bool AppleSmcTransport::stillSelected(uint32_t index) {
    const std::optional<std::string> selected = readAttribute("key_at_index");
    const std::optional<long long> value =
        selected ? SysfsFile::parseInteger(*selected) : std::nullopt;
    return value && *value == static_cast<long long>(index);
}

int32_t AppleSmcTransport::openIndexed() {
    const std::optional<std::string> countText = readAttribute("key_count");
    const std::optional<long long> count =
        countText ? SysfsFile::parseInteger(*countText) : std::nullopt;
    if (!count || *count <= 0 || *count > 0xFFFF) return SMC_STATUS_IO_ERROR;

    size_t described = 0;
    for (uint32_t index = 0; index < static_cast<uint32_t>(*count); ++index) {
        Key key;
        key.index = index;
        for (int attempt = 0; attempt < kSelectAttempts; ++attempt) {
            if (!selectIndex(index)) break;
            const auto name = readAttribute("key_at_index_name");
            const auto type = readAttribute("key_at_index_type");
            const auto length = readAttribute("key_at_index_data_length");
            const auto size = length ? SysfsFile::parseInteger(*length) : std::nullopt;
            if (!name || !type || !size || *size < 0 || !stillSelected(index)) continue;
            key.code = parseCode(*name);
            key.type = parseCode(*type);
            key.size = static_cast<uint32_t>(*size);
            ++described;
            break;
        }
        addKey(std::move(key));
    }
    listed_ = keys_.size();
    if (described == 0) return SMC_STATUS_IO_ERROR;
    addUnlistedModeKeys();
    readSpeedsFromFanFiles();
    readTemperaturesFromFiles();
    return 0;
}

// A fan's speed file reads the same key through the driver in one read, where the index takes a
// write, an open, a read, a close and a read back. The mainline driver decodes fpe2 only; a newer
// SMC's flt speeds are read from the files only where this driver shows them as the SMC's own
// value (checked once per fan on its current speed; a stopped fan proves nothing).
void AppleSmcTransport::readSpeedsFromFanFiles() {
    for (uint32_t fan = 0; fan < fanCount_; ++fan) {
        std::optional<bool> decodesOtherTypes;
        for (const auto& [suffix, file] : kSpeedFiles) {
            Key* key = find(fanKey(fan, suffix));
            if (key == nullptr || !hasAttribute(fanFile(fan, file))) continue;
            // The file's rpm goes back into the key's own bytes.
            if (!smc_encode(key->type, key->size, 0.0)) continue;
            if (key->type != SMC_TYPE_FPE2 || key->size != 2) {
                if (!decodesOtherTypes) decodesOtherTypes = fileShowsOwnSpeed(fan);
                if (!*decodesOtherTypes) continue;
            }
            key->source = Source::fanSpeed;
            key->attribute = fanFile(fan, file);
        }
    }
}

bool AppleSmcTransport::fileShowsOwnSpeed(uint32_t fan) {
    const Key* key = find(fanKey(fan, "Ac"));
    uint8_t bytes[32] = {};
    if (key == nullptr || readThroughIndex(*key, bytes) != 0) return false;
    const auto own = smc_decode(key->type, key->size, std::span<const uint8_t, 32>(bytes));
    const auto text = readAttribute(fanFile(fan, "input"));
    const auto shown = text ? SysfsFile::parseInteger(*text) : std::nullopt;
    if (!own || !shown || *own < 1) return false;
    // The fan moves between the two reads; a misread type lands nowhere near.
    return std::abs(static_cast<double>(*shown) - *own) <= std::max(2.0, *own * 0.02);
}

// A temperature file reads its key in one positioned read on a kept descriptor, where the index
// takes a write, an open, a read, a close and a read back (see read() for when it is used).
void AppleSmcTransport::readTemperaturesFromFiles() {
    for (uint32_t n = 1; hasAttribute(temperatureFile(n)); ++n) {
        const auto label = readAttribute(temperatureFile(n, "label"));
        Key* key = label ? find(parseCode(*label)) : nullptr;
        if (key == nullptr || key->source != Source::smc || key->type != SMC_TYPE_SP78 ||
            key->size != 2) {
            continue;
        }
        key->source = Source::temperature;
        key->attribute = temperatureFile(n);
    }
}

// Fan control here works through "F<i>Md"; on SMCs that only have "FS! " the driver's
// fan<N>_manual files stand in for the missing mode keys.
void AppleSmcTransport::addUnlistedModeKeys() {
    for (uint32_t fan = 0; fan < fanCount_; ++fan) {
        const uint32_t code = fanKey(fan, "Md");
        if (find(code) != nullptr || !hasAttribute(fanFile(fan, "manual"))) continue;
        addKey({code, SMC_TYPE_UI8, 1, Source::fanManual, 0, fanFile(fan, "manual")});
    }
}

int32_t AppleSmcTransport::openReadOnly() {
    readOnly_ = true;
    std::vector<Key> table;
    table.push_back({kKeyCount, SMC_TYPE_UI32, 4, Source::keyCount, 0, {}});
    table.push_back({kFanCount, SMC_TYPE_UI8, 1, Source::fanCount, 0, {}});
    bool anyManual = false;
    for (uint32_t fan = 0; fan < fanCount_; ++fan) {
        for (const auto& [suffix, file] : kSpeedFiles) {
            if (!hasAttribute(fanFile(fan, file))) continue;
            table.push_back(
                {fanKey(fan, suffix), SMC_TYPE_FPE2, 2, Source::fanSpeed, 0, fanFile(fan, file)});
        }
        if (hasAttribute(fanFile(fan, "manual"))) {
            anyManual = true;
            table.push_back(
                {fanKey(fan, "Md"), SMC_TYPE_UI8, 1, Source::fanManual, 0, fanFile(fan, "manual")});
        }
    }
    if (anyManual) table.push_back({kManualBits, SMC_TYPE_UI16, 2, Source::manualBits, 0, {}});
    for (uint32_t n = 1; hasAttribute(temperatureFile(n)); ++n) {
        const auto label = readAttribute(temperatureFile(n, "label"));
        if (!label || withoutNewline(*label).empty()) continue;
        table.push_back(
            {parseCode(*label), SMC_TYPE_SP78, 2, Source::temperature, 0, temperatureFile(n)});
    }
    // The SMC lists its keys sorted by code; the stand-in keeps that order.
    std::stable_sort(table.begin(), table.end(),
                     [](const Key& a, const Key& b) { return a.code < b.code; });
    for (Key& key : table) {
        if (find(key.code) == nullptr) addKey(std::move(key));
    }
    listed_ = keys_.size();
    return 0;
}

bool AppleSmcTransport::writable(const Key& key) const {
    if (key.code == kManualBits) return true;
    for (const std::string_view suffix : {"Tg", "Mn", "Md"}) {
        if (fanOf(key.code, suffix)) return true;
    }
    return false;
}

int32_t AppleSmcTransport::call(const smc_param& request, smc_param& reply) {
    switch (request.command) {
        case SMC_CMD_KEY_INFO:
            reply.result = describe(request, reply);
            return 0;
        case SMC_CMD_KEY_AT_INDEX:
            reply.result = keyAtIndex(request, reply);
            return 0;
        case SMC_CMD_READ_BYTES:
        case SMC_CMD_WRITE_BYTES: {
            Key* key = find(request.key);
            if (key == nullptr) {
                reply.result = SmcResult::keyNotFound;
            } else if (request.command == SMC_CMD_READ_BYTES) {
                reply.result = read(*key, reply.bytes);
            } else {
                reply.result = write(*key, request);
            }
            return 0;
        }
        default:
            reply.result = SmcResult::badCommand;
            return 0;
    }
}

uint8_t AppleSmcTransport::describe(const smc_param& request, smc_param& reply) const {
    const Key* key = find(request.key);
    if (key == nullptr) return SmcResult::keyNotFound;
    reply.data_size = key->size;
    reply.data_type = key->type;
    reply.attributes = static_cast<uint8_t>(kAttrRead | (writable(*key) ? kAttrWrite : 0));
    return 0;
}

uint8_t AppleSmcTransport::keyAtIndex(const smc_param& request, smc_param& reply) const {
    if (request.index >= listed_) return SmcResult::badArgument;
    const Key& key = keys_[request.index];
    if (key.code == 0) return SmcResult::error;
    reply.key = key.code;
    return 0;
}

uint8_t AppleSmcTransport::readThroughIndex(const Key& key, uint8_t (&bytes)[32]) {
    const size_t size = std::min<size_t>(key.size, sizeof bytes);
    for (int attempt = 0; attempt < kSelectAttempts; ++attempt) {
        if (!selectIndex(key.index)) return SmcResult::error;
        // The key's own size is all there is to read, so a simulated driver's pipe takes one read.
        const auto data = readAttribute("key_at_index_data", std::max<size_t>(size, 1));
        // Fewer bytes than the key holds is a read that failed, never a value of zeros.
        if (!data || data->size() < size) return SmcResult::notReadable;
        if (!stillSelected(key.index)) continue;
        std::copy_n(data->begin(), size, bytes);
        return 0;
    }
    return SmcResult::error;
}

uint8_t AppleSmcTransport::read(Key& key, uint8_t (&bytes)[32]) {
    if (key.source == Source::smc) return readThroughIndex(key, bytes);
    // A temperature file holds whole quarter degrees. Whether a sensor reads whole degrees is
    // what tells a fixed stand-in from a live one, so a key is read through the index, in the
    // SMC's own bytes, until it has shown a fraction.
    if (key.source == Source::temperature && !readOnly_ && !key.fractionSeen) {
        const uint8_t result = readThroughIndex(key, bytes);
        if (result == 0 && bytes[1] != 0) key.fractionSeen = true;
        return result;
    }
    switch (key.source) {
        case Source::keyCount:
            putBigEndian(bytes, static_cast<uint32_t>(listed_), 4);
            return 0;
        case Source::fanCount:
            bytes[0] = static_cast<uint8_t>(fanCount_);
            return 0;
        case Source::manualBits: {
            uint32_t bits = 0;
            for (uint32_t fan = 0; fan < fanCount_; ++fan) {
                if (!hasAttribute(fanFile(fan, "manual"))) continue;
                const auto text = readAttribute(fanFile(fan, "manual"));
                const auto value = text ? SysfsFile::parseInteger(*text) : std::nullopt;
                if (!value) return SmcResult::notReadable;
                if (*value != 0) bits |= 1u << fan;
            }
            putBigEndian(bytes, bits, 2);
            return 0;
        }
        default:
            break;
    }
    const auto text = readAttribute(key.attribute);
    const auto value = text ? SysfsFile::parseInteger(*text) : std::nullopt;
    if (!value && key.source == Source::temperature && !readOnly_) {
        return readThroughIndex(key, bytes);
    }
    if (!value) return SmcResult::notReadable;
    const auto number = static_cast<double>(*value);
    switch (key.source) {
        case Source::fanSpeed: {
            const auto encoded = smc_encode(key.type, key.size, std::max(number, 0.0));
            if (!encoded) return SmcResult::notReadable;
            std::copy_n(encoded->bytes.begin(), encoded->length, bytes);
            return 0;
        }
        case Source::fanManual:
            bytes[0] = *value != 0 ? 1 : 0;
            return 0;
        case Source::temperature: {
            // The driver prints quarter degrees in millidegrees, so this is exact.
            const double raw = std::clamp(std::round(number * 256 / 1000), -32768.0, 32767.0);
            putBigEndian(bytes, static_cast<uint16_t>(static_cast<int16_t>(raw)), 2);
            return 0;
        }
        default:
            return SmcResult::error;
    }
}

uint8_t AppleSmcTransport::write(const Key& key, const smc_param& request) {
    if (!writable(key)) return SmcResult::notWritable;
    if (request.data_size != key.size) return SmcResult::sizeMismatch;
    const std::optional<double> value =
        smc_decode(key.type, key.size, std::span<const uint8_t, 32>(request.bytes));
    if (!value || !std::isfinite(*value)) return SmcResult::badArgument;

    if (key.code == kManualBits) {
        const auto bits = static_cast<uint32_t>(std::clamp(*value, 0.0, 65535.0));
        bool ok = true;
        for (uint32_t fan = 0; fan < fanCount_; ++fan) {
            if (!hasAttribute(fanFile(fan, "manual"))) continue;
            ok = writeAttribute(fanFile(fan, "manual"), (bits >> fan) & 1u ? "1" : "0") && ok;
        }
        return ok ? 0 : SmcResult::error;
    }
    if (const auto fan = fanOf(key.code, "Md")) {
        return writeAttribute(fanFile(*fan, "manual"), *value != 0 ? "1" : "0") ? 0
                                                                                : SmcResult::error;
    }
    const auto target = fanOf(key.code, "Tg");
    const auto fan = target ? target : fanOf(key.code, "Mn");
    const double rpm = std::round(*value);
    if (rpm < 0 || rpm > static_cast<double>(kMaxWritableRpm)) return SmcResult::badArgument;
    const std::string file = fanFile(*fan, target ? "output" : "min");
    return writeAttribute(file, std::to_string(static_cast<long long>(rpm))) ? 0 : SmcResult::error;
}
