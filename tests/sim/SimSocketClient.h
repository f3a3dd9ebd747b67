#pragma once

// A raw client of the simulated SMC's socket: exactly the bytes on the wire, nothing of the
// system's own transport, so the tests see what any client would.

#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <optional>

#include "CSMC/smc.h"

namespace simtest {

class RawClient {
  public:
    explicit RawClient(const std::filesystem::path& path) {
        fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const timeval timeout{5, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        ::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        connected_ =
            ::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    }
    ~RawClient() { close(); }
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    bool connected() const { return connected_; }
    int fd() const { return fd_; }
    void close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

    bool send(const void* data, size_t size) {
        const auto* bytes = static_cast<const uint8_t*>(data);
        while (size > 0) {
            const ssize_t n = ::send(fd_, bytes, size, MSG_NOSIGNAL);
            if (n <= 0) return false;
            bytes += n;
            size -= static_cast<size_t>(n);
        }
        return true;
    }

    // Reads exactly `size` bytes; false on end of stream, error or timeout.
    bool receive(void* data, size_t size) {
        auto* bytes = static_cast<uint8_t*>(data);
        while (size > 0) {
            const ssize_t n = ::recv(fd_, bytes, size, 0);
            if (n <= 0) return false;
            bytes += n;
            size -= static_cast<size_t>(n);
        }
        return true;
    }

    struct Answer {
        int32_t status;
        smc_param reply;
    };
    std::optional<Answer> readAnswer() {
        uint8_t raw[84];
        if (!receive(raw, sizeof raw)) return std::nullopt;
        Answer answer{};
        const uint32_t status = uint32_t{raw[0]} | (uint32_t{raw[1]} << 8) |
                                (uint32_t{raw[2]} << 16) | (uint32_t{raw[3]} << 24);
        answer.status = static_cast<int32_t>(status);
        std::memcpy(&answer.reply, raw + 4, sizeof answer.reply);
        return answer;
    }
    std::optional<Answer> call(const smc_param& request) {
        if (!send(&request, sizeof request)) return std::nullopt;
        return readAnswer();
    }

  private:
    int fd_ = -1;
    bool connected_ = false;
};

}  // namespace simtest
