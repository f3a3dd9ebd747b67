#pragma once

// The simulated SMC as the kernel's applesmc driver publishes it on Intel Macs, in
// <root>/sys/devices/platform/applesmc.768: name, key_count, key_at_index and its
// key_at_index_{name,type,data_length,data}, fan<N>_{label,input,min,max,safe,output,manual}
// and temp<N>_{label,input} for every listed 'T' key, in quarter degrees as the driver prints them.
//
// Reads that reach the SMC (key_at_index_*, fan<N>_input, temp<N>_input) are named pipes the
// simulator answers one at a time, values each after the control's latencyMs, as the driver's lock
// and the SMC's speed make a real machine do; a refused read answers with no text. The remaining
// files are plain: the simulator rewrites them when the machine changes them, and writes clients
// store in fan<N>_{min,output,manual} reach the SMC (a refused write is put back on the next
// tick, since a plain file cannot fail the writer). Two clients reading the same pipe at the same
// moment share one answer: one of them reads nothing.

#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "sim/SimSmcFront.h"

class SimAppleSmc : public SimSmcFront {
  public:
    // The driver folder under `root`.
    static std::filesystem::path folder(const std::filesystem::path& root);

    // Publishes every file (an earlier run's folder is replaced); null with `error`.
    static std::unique_ptr<SimAppleSmc> publish(const std::filesystem::path& root,
                                                SimMachine& machine, std::string& error);
    // Removes the folder: pipes nobody answers would hold their readers for ever.
    ~SimAppleSmc() override;
    SimAppleSmc(const SimAppleSmc&) = delete;
    SimAppleSmc& operator=(const SimAppleSmc&) = delete;

    bool update(std::string& error) override;
    bool serve(int timeoutMs, int wakeFd) override;
    std::string where() const override { return dir_.string(); }

    // The driver's text for a temperature of `celsius` in key type `type`: millidegrees in whole
    // quarter degrees, rounded down as the driver shifts the SMC's fixed-point value.
    static long long millidegrees(double celsius);

  private:
    // What a pipe answers.
    enum class Reading { keyName, keyType, keyLength, keyData, fanSpeed, temperature };
    struct Pipe {
        std::string file;
        Reading reading;
        std::string key;  // the SMC key behind fanSpeed and temperature
    };
    // A plain file the simulator keeps equal to an SMC key, and where client writes go.
    struct Plain {
        std::string file;
        std::string key;  // "FS! " for a fan's bit of the mode mask
        int fan = -1;     // the fan of a "FS! " bit
        bool writable = false;
        std::string shown;  // the text last published
    };

    SimAppleSmc(std::filesystem::path dir, SimMachine& machine);
    bool build(std::string& error);
    bool publishPlain(Plain& plain, std::string& error);
    std::string plainText(const Plain& plain) const;
    void takeWrites();
    void takeWrite(Plain& plain);
    bool answer(const Pipe& pipe, int wakeFd, bool& woken);
    std::string pipeText(const Pipe& pipe);
    std::optional<std::vector<uint8_t>> readKey(uint32_t code, uint32_t size);

    std::filesystem::path dir_;
    SimMachine& machine_;
    std::vector<Pipe> pipes_;
    std::vector<Plain> plains_;
    int notify_ = -1;
    std::chrono::steady_clock::time_point lastAnswer_{};
};
