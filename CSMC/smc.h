#pragma once

// The SMC user client: key packing, the 80-byte parameter block, and the four requests the system
// makes (describe a key, read, write, key at index). All functions return signed 32-bit statuses:
// 0 success, -1 no SMC service or connection, -2 a write refused for its length, anything else an
// opaque transport or SMC result failure.

#include <cstddef>
#include <cstdint>
#include <string>

struct smc_info {
    uint32_t data_size = 0;
    uint32_t data_type = 0;
    uint8_t attributes = 0;
};

// The request and reply block, byte for byte as the SMC user client exchanges it (little-endian).
struct smc_param {
    uint32_t key;
    uint8_t reserved[24];
    uint32_t data_size;
    uint32_t data_type;
    uint8_t attributes;
    uint8_t padding1[3];
    uint8_t result;
    uint8_t reserved2;
    uint8_t command;
    uint8_t padding2;
    uint32_t index;
    uint8_t bytes[32];
};
static_assert(sizeof(smc_param) == 80, "the SMC parameter block is exactly 80 bytes");

enum : uint8_t {
    SMC_CMD_READ_BYTES = 5,
    SMC_CMD_WRITE_BYTES = 6,
    SMC_CMD_KEY_AT_INDEX = 8,
    SMC_CMD_KEY_INFO = 9,
};

// SMC result bytes (the reply's `result`); the module treats every non-zero result alike.
namespace SmcResult {
inline constexpr uint8_t error = 0x01;
inline constexpr uint8_t keyNotFound = 0x84;
inline constexpr uint8_t notReadable = 0x85;
inline constexpr uint8_t notWritable = 0x86;
inline constexpr uint8_t sizeMismatch = 0x87;
inline constexpr uint8_t badArgument = 0x89;
inline constexpr uint8_t badCommand = 0x8B;
}  // namespace SmcResult

// Process-wide connection handle: 0 until smc_open succeeds, then kept until the process exits.
extern uint32_t g_conn;

// Opens the connection once; 0 when open (also when already open), -1 when no SMC exists, else
// the transport's open status.
int32_t smc_open();

// Packs up to four characters most significant first; a NUL or missing character counts as a space.
uint32_t smc_fourcc(const char* text);

// Packs the first four of `length` bytes at `text` the same way; a zero byte counts as a space.
uint32_t smc_fourcc_n(const char* text, size_t length);

// Writes the four characters of `code` and a terminating NUL into `out`.
void smc_fourcc_str(uint32_t code, char out[5]);

// Fills `info` on success; leaves it untouched on failure. A key's type and size do not change
// while the machine runs, so each key is asked once per connection: later calls answer from
// memory, a key the SMC does not know included.
int32_t smc_key_info(uint32_t key, smc_info* info);

// Copies all 32 reply bytes into `out` (and the key's description into `info` when given). One
// exchange once the key is described; a failed transfer makes the next read describe it afresh.
int32_t smc_read(uint32_t key, smc_info* info, uint8_t out[32]);

// Writes `length` bytes; -2 when length exceeds 32 or differs from the key's data size (checked
// against a fresh description, so a remembered one never refuses a length the SMC would take).
int32_t smc_write(uint32_t key, const uint8_t* bytes, uint32_t length);

// The number of keys ("#KEY"), 0 on any failure.
uint32_t smc_key_count();

// The key code at `index`, 0 on any failure.
uint32_t smc_key_at_index(uint32_t index);

// Reads and decodes a key into `out`: 1 on success, 0 (out untouched) when unreadable or untyped.
int smc_read_double(uint32_t key, double* out);

// Whether the open transport's temperatures come in coarse steps (whole quarter degrees), so
// that a whole value is no sign of a placeholder; false when none is open.
bool smc_coarse_temperatures();

// Whether the open transport is slow by nature (milliseconds per key); false when none is open.
bool smc_slow_bus();

// Why no fan write can succeed on this machine, as one line a person can act on; empty when
// writes may succeed or there is no SMC. Without an open connection the SMC is opened only when
// its driver may refuse writes: opening the applesmc driver walks its whole key index.
std::string smc_write_blocked();

// Exchanges made by this process so far and the time spent in them (a slow bus shows here).
struct smc_traffic {
    uint64_t exchanges = 0;
    uint64_t nanoseconds = 0;
};
smc_traffic smc_traffic_so_far();
