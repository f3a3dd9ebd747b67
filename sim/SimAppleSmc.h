#pragma once

// The simulated SMC as the kernel's applesmc driver publishes it on Intel Macs, in
// <root>/sys/devices/platform/applesmc.768: name, key_count, key_at_index and its
// key_at_index_{name,type,data_length,data}, fan<N>_{label,input,min,max,safe,output,manual}
// and temp<N>_{label,input} for every listed 'T' key, in quarter degrees as the driver prints them.
//
// Every attribute is a regular file, as sysfs shows them: the simulator rewrites it in place when
// the machine changes it, so a reader may keep it open and read it again at offset 0 (pread). The
// fan and temperature attributes (fan<N>_{input,min,max,safe,output,manual}, temp<N>_input) are
// reads of an SMC key on a real machine: each read() of one that returns text counts as one read
// exchange, learnt from the folder's inotify access events. Two identical events in a row are
// merged by inotify, so a client that reads one file twice before the simulator looks (two short
// reads of one value, say) counts once. A key whose read the SMC refuses shows no text. Writes
// clients store in fan<N>_{min,output,manual} reach the SMC (a refused write is put back within a
// tick, since a regular file cannot fail the writer); each write counts, the same value again too,
// and is taken when its writer closes the file.
//
// key_at_index_{name,type,data_length,data} answer for the key selected by the number written to
// key_at_index just before, so they are named pipes the simulator answers one at a time, a key's
// data after the control's latencyMs. Regular files cannot wait: on them the SMC's time per read
// is counted (reads x latency) rather than felt. Two clients reading the same pipe at the same
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
    enum class Reading { keyName, keyType, keyLength, keyData };
    struct Pipe {
        std::string file;
        Reading reading;
    };
    // How a regular file shows its key.
    enum class Shows {
        number,       // the value as a whole number (fan<N>_{min,max,safe,output,manual})
        modeBit,      // the fan's bit of the "FS! " mask
        speed,        // fan<N>_input: nothing while the SMC refuses the read
        temperature,  // temp<N>_input, millidegrees: nothing while the SMC refuses the read
    };
    // A regular file the simulator keeps equal to an SMC key; reading it reads the key, and
    // clients' writes to a writable one go to the key.
    struct Plain {
        std::string file;
        std::string key;
        Shows shows = Shows::number;
        int fan = -1;  // the fan of a mode bit
        bool writable = false;
        std::string shown;  // the text last published
        int ownReads = 0;   // the simulator's own reads whose access events are still to come
        int ownWrites = 0;  // likewise its own rewrites, which are not clients' writes
    };
    SimAppleSmc(std::filesystem::path dir, SimMachine& machine);
    bool build(std::string& error);
    bool publishPlain(Plain& plain, std::string& error, bool always = false);
    std::string plainText(const Plain& plain) const;
    // The key's value when a read of it would succeed now; does not count as an exchange.
    std::optional<double> readable(const std::string& key) const;
    // Takes the clients' writes and counts their reads, as inotify reports them.
    void takeEvents();
    void takeWrite(Plain& plain);
    void countRead(const Plain& plain);
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
