#pragma once

// The kernel's macsmc_hwmon driver (Linux on Apple silicon) behind the SMC block protocol.
//
// The driver publishes each fan's keys as files of its hwmon device: "F<i>Ac" fan<i+1>_input,
// "F<i>Mn" _min, "F<i>Mx" _max and "F<i>Tg" _target, all "flt "; "FNum" is the number of fans.
// The mode key has no file: writing a speed within [min, max] to fan<N>_target puts the fan in
// manual mode, writing 0 hands it back to the firmware. So "F<i>Md" 1 is remembered until the
// first target write, "F<i>Md" 0 writes 0, and reading "F<i>Md" gives what was last written.
// fan<N>_target is writable only when the module option fan_control is set; without it every
// write is refused and writeBlocked() says how to allow it. A target file that goes away (the
// device unregistered) leaves its fan's mode unreadable, never automatic: the driver may still
// hold the fan in manual. When the folder itself is gone the device is looked for again, as a
// reloaded driver registers under another number. Everything else the driver cannot say
// (the key count and index, "Ftst", temperatures) is answered as the SMC answers an unknown key.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "CSMC/transport.h"

class MacsmcHwmonTransport : public SmcTransport {
  public:
    // `hwmonDir` is the driver's hwmon folder; `parameter` its fan_control module option file;
    // `root`, when given, where to look for the device again should the folder go.
    MacsmcHwmonTransport(std::filesystem::path hwmonDir, std::filesystem::path parameter,
                         std::filesystem::path root = {});

    // Counts the fans; 0 on success, SMC_STATUS_IO_ERROR when the folder has no fan.
    int32_t open();

    // Always 0 (the exchange took place); failures are the reply's result byte.
    int32_t call(const smc_param& request, smc_param& reply) override;

    std::string writeBlocked() const override;

    // The driver's hwmon folder under `root`: the one whose name is macsmc_hwmon and that has
    // fan1_input; absent when there is none.
    static std::optional<std::filesystem::path> find(const std::filesystem::path& root);

  protected:
    // Stores `text` in the driver file `name`; 0 or the errno of the refusal.
    virtual int writeAttribute(const std::string& name, std::string_view text);

  private:
    enum class Field : uint8_t { count, input, min, max, target, mode };
    struct Key {
        Field field = Field::count;
        uint32_t fan = 0;
    };

    std::optional<Key> keyFor(uint32_t code) const;
    // Follows the device to its new folder when the old one is gone; at most once a second.
    void relocate();
    bool targetWritable(uint32_t fan) const;
    std::optional<long long> readNumber(uint32_t fan, Field field) const;
    uint8_t read(const Key& key, uint8_t (&bytes)[32]) const;
    uint8_t write(const Key& key, const smc_param& request);

    std::filesystem::path dir_;
    std::filesystem::path parameter_;
    std::filesystem::path root_;
    std::chrono::steady_clock::time_point lastLook_{};
    uint32_t fanCount_ = 0;
    std::vector<uint8_t> modes_;  // per fan: 1 after a manual target, 0 after a hand-back
};
