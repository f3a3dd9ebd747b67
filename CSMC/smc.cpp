#include "CSMC/smc.h"

#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <span>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "CSMC/codec.h"
#include "CSMC/deadline.h"
#include "CSMC/transport.h"

uint32_t g_conn = 0;

namespace {

// What the open connection's SMC said about each key it was asked to describe.
struct KeyInfoCache {
    std::unordered_map<uint32_t, smc_info> known;
    std::unordered_set<uint32_t> missing;

    void clear() {
        known.clear();
        missing.clear();
    }
};

KeyInfoCache& keyInfoCache() {
    static KeyInfoCache cache;
    return cache;
}

smc_traffic& traffic() {
    static smc_traffic counted;
    return counted;
}

// The open transport behind g_conn; it lives until the process exits, like the connection.
std::unique_ptr<SmcTransport>& openTransport() {
    static std::unique_ptr<SmcTransport> transport;
    return transport;
}

std::function<SmcOpenResult()>& transportFactory() {
    static std::function<SmcOpenResult()> factory;
    return factory;
}

// Handles are never reused within a process, so a caller holding an old g_conn value can tell
// that a test seam replaced the connection.
uint32_t nextHandle() {
    static uint32_t last = 0;
    if (++last == 0) ++last;
    return last;
}

int32_t smc_call(const smc_param& request, smc_param& reply) {
    if (SmcDeadline::expired()) return SMC_STATUS_TIMEOUT;
    if (g_conn == 0 && smc_open() != 0) return -1;
    SmcTransport* transport = openTransport().get();
    if (transport == nullptr) return -1;
    const auto started = std::chrono::steady_clock::now();
    const int32_t status = transport->call(request, reply);
    smc_traffic& counted = traffic();
    ++counted.exchanges;
    counted.nanoseconds +=
        static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                  std::chrono::steady_clock::now() - started)
                                  .count());
    if (status != 0) return status;
    return reply.result;
}

}  // namespace

int32_t smc_open() {
    if (g_conn != 0) return 0;
    SmcOpenResult found = transportFactory() ? transportFactory()() : smc_find_transport();
    if (found.status != 0) return found.status;
    if (!found.transport) return -1;
    openTransport() = std::move(found.transport);
    keyInfoCache().clear();
    g_conn = nextHandle();
    return 0;
}

std::string smc_write_blocked() {
    if (g_conn == 0 && !transportFactory() && !smc_found_transport_may_block_writes()) return {};
    if (g_conn == 0 && smc_open() != 0) return {};
    SmcTransport* transport = openTransport().get();
    return transport == nullptr ? std::string() : transport->writeBlocked();
}

bool smc_coarse_temperatures() {
    const SmcTransport* transport = openTransport().get();
    return transport != nullptr && transport->coarseTemperatures();
}

bool smc_slow_bus() {
    const SmcTransport* transport = openTransport().get();
    return transport != nullptr && transport->slowBus();
}

void smc_set_transport_factory(std::function<SmcOpenResult()> factory) {
    transportFactory() = std::move(factory);
    g_conn = 0;
    openTransport().reset();
    keyInfoCache().clear();
}

uint32_t smc_fourcc_n(const char* text, size_t length) {
    uint32_t code = 0;
    for (size_t i = 0; i < 4; ++i) {
        uint8_t byte = (text != nullptr && i < length) ? static_cast<uint8_t>(text[i]) : 0;
        if (byte == 0) byte = ' ';
        code = (code << 8) | byte;
    }
    return code;
}

uint32_t smc_fourcc(const char* text) {
    // The text ends at its terminator; nothing past it may be read.
    const size_t length = text == nullptr ? 0 : strnlen(text, 4);
    return smc_fourcc_n(text, length);
}

void smc_fourcc_str(uint32_t code, char out[5]) {
    out[0] = static_cast<char>(code >> 24);
    out[1] = static_cast<char>(code >> 16);
    out[2] = static_cast<char>(code >> 8);
    out[3] = static_cast<char>(code);
    out[4] = '\0';
}

int32_t smc_key_info(uint32_t key, smc_info* info) {
    KeyInfoCache& cache = keyInfoCache();
    if (const auto found = cache.known.find(key); found != cache.known.end()) {
        if (info != nullptr) *info = found->second;
        return 0;
    }
    if (cache.missing.contains(key)) return SmcResult::keyNotFound;

    smc_param request{};
    smc_param reply{};
    request.key = key;
    request.command = SMC_CMD_KEY_INFO;
    const int32_t status = smc_call(request, reply);
    if (status == 0) {
        const smc_info described{reply.data_size, reply.data_type, reply.attributes};
        cache.known[key] = described;
        if (info != nullptr) *info = described;
    } else if (status == SmcResult::keyNotFound) {
        // Only the SMC's own verdict is remembered; a failed exchange says nothing about the key.
        cache.missing.insert(key);
    }
    return status;
}

int32_t smc_read(uint32_t key, smc_info* info, uint8_t out[32]) {
    smc_info described;
    int32_t status = smc_key_info(key, &described);
    if (status != 0) return status;

    smc_param request{};
    smc_param reply{};
    request.key = key;
    request.data_size = described.data_size;
    request.command = SMC_CMD_READ_BYTES;
    status = smc_call(request, reply);
    if (status != 0) {
        // A remembered size the SMC no longer agrees with (a simulator restarted with another
        // machine) must not fail every later read too.
        keyInfoCache().known.erase(key);
        return status;
    }

    if (info != nullptr) *info = described;
    if (out != nullptr) std::memcpy(out, reply.bytes, sizeof reply.bytes);
    return 0;
}

int32_t smc_write(uint32_t key, const uint8_t* bytes, uint32_t length) {
    const bool remembered = keyInfoCache().known.contains(key);
    smc_info described;
    int32_t status = smc_key_info(key, &described);
    if (status != 0) return status;
    if (remembered && length != described.data_size) {
        keyInfoCache().known.erase(key);
        status = smc_key_info(key, &described);
        if (status != 0) return status;
    }
    if (length > sizeof smc_param::bytes || length != described.data_size) return -2;
    if (bytes == nullptr && length > 0) return -2;

    smc_param request{};
    smc_param reply{};
    request.key = key;
    request.data_size = length;
    request.command = SMC_CMD_WRITE_BYTES;
    if (length > 0) std::memcpy(request.bytes, bytes, length);
    status = smc_call(request, reply);
    if (status != 0) keyInfoCache().known.erase(key);
    return status;
}

uint32_t smc_key_count() {
    uint8_t value[32];
    if (smc_read(smc_fourcc("#KEY"), nullptr, value) != 0) return 0;
    return (uint32_t{value[0]} << 24) | (uint32_t{value[1]} << 16) | (uint32_t{value[2]} << 8) |
           value[3];
}

uint32_t smc_key_at_index(uint32_t index) {
    smc_param request{};
    smc_param reply{};
    request.command = SMC_CMD_KEY_AT_INDEX;
    request.index = index;
    if (smc_call(request, reply) != 0) return 0;
    return reply.key;
}

int smc_read_double(uint32_t key, double* out) {
    smc_info info;
    uint8_t value[32];
    if (smc_read(key, &info, value) != 0) return 0;
    const std::optional<double> decoded =
        smc_decode(info.data_type, info.data_size, std::span<const uint8_t, 32>(value));
    if (!decoded) return 0;
    if (out != nullptr) *out = *decoded;
    return 1;
}

smc_traffic smc_traffic_so_far() { return traffic(); }
