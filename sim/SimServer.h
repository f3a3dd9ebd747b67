#pragma once

// The simulated SMC's Unix stream socket. Each request is one 80-byte parameter block; each reply
// is the exchange status (32-bit little-endian) followed by the 80-byte reply block. Any number of
// clients are served in turn from one poll() loop; a client that stops mid-block, sends nonsense
// or stops reading affects only itself.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "sim/SimMachine.h"
#include "sim/SimSmcFront.h"

class SimServer : public SimSmcFront {
  public:
    static constexpr size_t kRequestSize = 80;
    static constexpr size_t kReplySize = 84;
    static constexpr size_t kMaxClients = 64;
    // Replies a client has not read yet; beyond this its requests wait in the socket.
    static constexpr size_t kMaxPendingReply = 64 * 1024;

    // Listens at `path` for `machine` (which must outlive the server). A leftover socket nobody
    // answers on is replaced; a live one, or any other file at `path`, is an error.
    static std::unique_ptr<SimServer> listen(const std::filesystem::path& path, SimMachine& machine,
                                             std::string& error);
    ~SimServer() override;
    SimServer(const SimServer&) = delete;
    SimServer& operator=(const SimServer&) = delete;

    // Serves clients for at most `timeoutMs` (0: only what is ready); returns early with true
    // as soon as `wakeFd` (ignored when negative) becomes readable.
    bool serve(int timeoutMs, int wakeFd) override;
    bool update(std::string&) override { return true; }
    std::string where() const override { return path_.string(); }

  private:
    struct Client {
        int fd = -1;
        uint8_t request[kRequestSize] = {};
        size_t have = 0;
        std::vector<uint8_t> out;
        bool closing = false;  // the peer sent its last byte; finish writing, then close
    };

    SimServer(int fd, std::filesystem::path path, SimMachine& machine);
    void accept();
    bool receive(Client& client);  // false: drop the client
    bool send(Client& client);     // false: drop the client

    int fd_;
    std::filesystem::path path_;
    dev_t device_ = 0;
    ino_t inode_ = 0;
    SimMachine& machine_;
    std::vector<std::unique_ptr<Client>> clients_;
};
