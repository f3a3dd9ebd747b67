#pragma once

// The kernel's applesmc driver (Linux on Intel Macs) behind the SMC block protocol.
//
// With write access to key_at_index (root), every key the SMC lists is described and read through
// the driver's key_at_index_* files, except fan speeds and sp78 temperatures, which the fan and
// temperature files read in one go: fpe2 speeds always, other speed types only where the driver
// showed the fan's current speed as the SMC's own at open, and a temperature once it has shown a
// fraction below whole degrees through the index (its file holds quarter degrees, rounded down).
// Without it, a read-only table is rebuilt from the fan and temperature files: "#KEY", "FNum",
// "F<i>Ac/Mn/Mx/Sf/Tg" as fpe2, "F<i>Md" as ui8, "FS! " as ui16 and each temperature's key as sp78.
// Either way writes reach the SMC only where the driver offers a file: "F<i>Tg" -> fan<i+1>_output,
// "F<i>Mn" -> fan<i+1>_min, "F<i>Md" and the bits of "FS! " -> fan<i+1>_manual; every other write
// is answered with a non-zero result.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "CSMC/linux/KeptFiles.h"
#include "CSMC/transport.h"

class AppleSmcTransport : public SmcTransport {
  public:
    // detect: indexed when key_at_index can be opened for writing, else read-only.
    enum class Access { detect, indexed, readOnly };

    explicit AppleSmcTransport(std::filesystem::path deviceDir, Access access = Access::detect);
    ~AppleSmcTransport() override;
    AppleSmcTransport(const AppleSmcTransport&) = delete;
    AppleSmcTransport& operator=(const AppleSmcTransport&) = delete;

    // Builds the key table; 0 on success, SMC_STATUS_IO_ERROR when the driver's files give none
    // (an indexed open that fails falls back to the read-only table when detecting).
    int32_t open();

    // Always 0 (the exchange took place); failures are the reply's result byte.
    int32_t call(const smc_param& request, smc_param& reply) override;

    // True when the table was rebuilt from the fan and temperature files.
    bool readOnly() const { return readOnly_; }

    // The driver's temperature files hold whole quarter degrees; the SMC's own bytes do not.
    bool coarseTemperatures() const override { return readOnly_; }
    // The driver waits on the SMC's I/O ports for every key: 8 ms per key on a MacBookPro11,1,
    // 33 ms on an iMac12,2.
    bool slowBus() const override { return true; }

  protected:
    // The content of the driver file `name`, at most `limit` bytes, or absent when it cannot be
    // read. Files read on every pass stay open.
    std::optional<std::string> readAttribute(const std::string& name, std::size_t limit = 4096);
    // Stores `text` in the driver file `name`; false when the driver refuses it.
    virtual bool writeAttribute(const std::string& name, std::string_view text);

  private:
    enum class Source : uint8_t {
        smc,          // the SMC's own bytes through key_at_index_data
        keyCount,     // "#KEY" of the read-only table
        fanCount,     // "FNum" of the read-only table
        fanSpeed,     // an rpm file in the key's own type
        fanManual,    // fan<N>_manual as ui8
        manualBits,   // every fan<N>_manual as the bits of a ui16
        temperature,  // a millidegree file as sp78
    };
    struct Key {
        uint32_t code = 0;
        uint32_t type = 0;
        uint32_t size = 0;
        Source source = Source::smc;
        uint32_t index = 0;         // the driver's index (smc)
        std::string attribute;      // the file (fanSpeed, fanManual, temperature)
        bool fractionSeen = false;  // a temperature read below whole degrees: a live sensor
    };

    int32_t openIndexed();
    int32_t openReadOnly();
    void scanFans();
    bool hasAttribute(const std::string& name) const;
    bool selectIndex(uint32_t index);
    bool stillSelected(uint32_t index);
    void addKey(Key key);
    void addUnlistedModeKeys();
    void readSpeedsFromFanFiles();
    bool fileShowsOwnSpeed(uint32_t fan);
    void readTemperaturesFromFiles();
    Key* find(uint32_t code);
    const Key* find(uint32_t code) const;
    bool writable(const Key& key) const;

    uint8_t describe(const smc_param& request, smc_param& reply) const;
    uint8_t read(Key& key, uint8_t (&bytes)[32]);
    uint8_t readThroughIndex(const Key& key, uint8_t (&bytes)[32]);
    uint8_t write(const Key& key, const smc_param& request);
    uint8_t keyAtIndex(const smc_param& request, smc_param& reply) const;

    std::filesystem::path dir_;
    Access access_;
    bool readOnly_ = false;
    uint32_t fanCount_ = 0;
    // The first listed_ keys are the index, in order (code 0: the driver could not describe
    // it); the rest answer by code only.
    std::vector<Key> keys_;
    size_t listed_ = 0;
    std::unordered_map<uint32_t, size_t> byCode_;
    KeptFiles files_{KeptFiles::Opening::blocking};
};
