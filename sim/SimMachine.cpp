#include "sim/SimMachine.h"

#include <algorithm>
#include <cstring>
#include <span>
#include <stdexcept>

#include "sim/SimCodec.h"

// The key store: the profile's keys by code and index, and the SMC exchange over them.

namespace {

std::string printable(uint32_t code) {
    std::string text = SimCodec::unpack(code);
    for (char& c : text) {
        if (c < 0x20 || c >= 0x7F) c = '?';
    }
    return text;
}

}  // namespace

SimMachine::SimMachine(SimProfile profile)
    : profile_(std::move(profile)), control_(SimControl::defaults(profile_)) {
    for (size_t i = 0; i < profile_.keys.size(); ++i) {
        const SimKey& key = profile_.keys[i];
        byCode_[key.code] = i;
        if (key.indexed) index_.push_back(key.code);
    }
    std::sort(index_.begin(), index_.end());
    if (SimKey* count = find(SimCodec::pack("#KEY"))) {
        SimCodec::encode(count->type, static_cast<double>(index_.size()), count->bytes);
    }
    for (int i = 0; i <= 9; ++i) {
        const std::string prefix = "F" + std::to_string(i);
        FanKeys fan;
        fan.index = i;
        fan.actual = position(prefix + "Ac");
        if (fan.actual == kNone) continue;
        fan.min = position(prefix + "Mn");
        fan.max = position(prefix + "Mx");
        fan.target = position(prefix + "Tg");
        fan.mode = position(prefix + "Md");
        fanKeys_.push_back(fan);
    }
    ftst_ = position("Ftst");

    settle();
}

SimMachine::SimMachine(std::string_view nameOrFile)
    : SimMachine([&] {
          SimProfile::Loaded loaded = SimProfile::load(nameOrFile);
          if (!loaded.profile) throw std::invalid_argument(loaded.error);
          return std::move(*loaded.profile);
      }()) {}

SimKey* SimMachine::find(uint32_t code) {
    const auto it = byCode_.find(code);
    return it == byCode_.end() ? nullptr : &profile_.keys[it->second];
}

const SimKey* SimMachine::find(uint32_t code) const {
    const auto it = byCode_.find(code);
    return it == byCode_.end() ? nullptr : &profile_.keys[it->second];
}

const SimKey* SimMachine::find(std::string_view key) const { return find(SimCodec::pack(key)); }

size_t SimMachine::position(std::string_view key) const {
    const auto it = byCode_.find(SimCodec::pack(key));
    return it == byCode_.end() ? kNone : it->second;
}

std::optional<double> SimMachine::decoded(size_t at) const {
    if (at == kNone) return std::nullopt;
    return SimCodec::decode(profile_.keys[at].type, profile_.keys[at].bytes);
}

void SimMachine::store(size_t at, double value) {
    if (at == kNone || pinned(profile_.keys[at])) return;
    SimCodec::encode(profile_.keys[at].type, value, profile_.keys[at].bytes);
}

bool SimMachine::pinned(const SimKey& key) const { return control_.pins.contains(key.name); }

int32_t SimMachine::exchange(const smc_param& request, smc_param& reply) {
    std::memset(&reply, 0, sizeof reply);
    if (control_.faults.io || sleepLeft_ > 0) {
        ++counts_.ioFailures;
        return SMC_STATUS_IO_ERROR;
    }
    SimKey* key = nullptr;
    switch (request.command) {
        case SMC_CMD_KEY_INFO:
            ++counts_.keyInfo;
            key = find(request.key);
            if (key == nullptr) {
                reply.result = SmcResult::keyNotFound;
                break;
            }
            reply.key = request.key;
            reply.data_size = static_cast<uint32_t>(key->bytes.size());
            reply.data_type = SimCodec::pack(key->type);
            reply.attributes =
                static_cast<uint8_t>((key->readable ? 0x80 : 0) | (key->writable ? 0x40 : 0));
            break;
        case SMC_CMD_READ_BYTES:
            ++counts_.read;
            key = find(request.key);
            if (key == nullptr) {
                reply.result = SmcResult::keyNotFound;
            } else if (!key->readable) {
                reply.result = SmcResult::notReadable;
            } else if (control_.faults.read.contains(key->name)) {
                reply.result = SmcResult::error;
            } else if (request.data_size != key->bytes.size() ||
                       key->bytes.size() > sizeof reply.bytes) {
                reply.result = SmcResult::sizeMismatch;
            } else {
                reply.key = request.key;
                reply.data_size = request.data_size;
                std::copy(key->bytes.begin(), key->bytes.end(), reply.bytes);
            }
            break;
        case SMC_CMD_WRITE_BYTES:
            ++counts_.write;
            key = find(request.key);
            if (key == nullptr) {
                reply.result = SmcResult::keyNotFound;
            } else if (!key->writable) {
                reply.result = SmcResult::notWritable;
            } else if (request.data_size != key->bytes.size() ||
                       key->bytes.size() > sizeof request.bytes) {
                reply.result = SmcResult::sizeMismatch;
            } else if (control_.faults.write.contains(key->name)) {
                reply.result = SmcResult::error;
            } else if (!pinned(*key)) {
                std::copy_n(request.bytes, key->bytes.size(), key->bytes.begin());
            }
            reply.key = request.key;
            log(key, request, reply.result);
            break;
        case SMC_CMD_KEY_AT_INDEX:
            ++counts_.keyAtIndex;
            if (request.index < index_.size()) {
                reply.key = index_[request.index];
            } else {
                reply.result = kSimResultIndexRange;
            }
            break;
        default:
            ++counts_.other;
            reply.result = SmcResult::badCommand;
            break;
    }
    return 0;
}

void SimMachine::log(const SimKey* key, const smc_param& request, uint8_t result) {
    SimWrite entry;
    entry.key = printable(request.key);
    const size_t size = std::min<size_t>(request.data_size, sizeof request.bytes);
    const std::span<const uint8_t> bytes(request.bytes, size);
    entry.bytes = SimCodec::hex(bytes);
    if (key != nullptr) entry.value = SimCodec::decode(key->type, bytes);
    entry.result = result;
    writes_.push_back(std::move(entry));
    if (writes_.size() > kWriteLogSize) writes_.pop_front();
}

std::optional<double> SimMachine::value(std::string_view key) const {
    return decoded(position(key));
}

std::optional<std::vector<uint8_t>> SimMachine::bytes(std::string_view key) const {
    const SimKey* found = find(key);
    if (found == nullptr) return std::nullopt;
    return found->bytes;
}

bool SimMachine::setValue(std::string_view key, double value) {
    const size_t at = position(key);
    if (at == kNone) return false;
    return SimCodec::encode(profile_.keys[at].type, value, profile_.keys[at].bytes);
}

std::vector<std::pair<std::string, double>> SimMachine::temperatures() const {
    std::vector<std::pair<std::string, double>> result;
    for (size_t i = 0; i < profile_.keys.size(); ++i) {
        if (profile_.keys[i].name[0] != 'T') continue;
        if (const std::optional<double> v = decoded(i))
            result.emplace_back(profile_.keys[i].name, *v);
    }
    return result;
}
