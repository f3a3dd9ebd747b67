#pragma once

// The simulated Mac's SMC behind a Unix stream socket. Each exchange sends the 80-byte request and
// receives a 32-bit little-endian platform status followed by the 80-byte reply.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>

#include "CSMC/transport.h"

class SocketTransport final : public SmcTransport {
  public:
    // Every exchange waits at most `timeout` (less when the SMC deadline comes first or its stop
    // check fires), so a hung simulator costs failed exchanges, never a hung caller.
    explicit SocketTransport(std::filesystem::path socketPath,
                             std::chrono::milliseconds timeout = std::chrono::seconds(3));
    ~SocketTransport() override;
    SocketTransport(const SocketTransport&) = delete;
    SocketTransport& operator=(const SocketTransport&) = delete;

    // Connects; 0 on success, SMC_STATUS_NOT_RESPONDING when nothing accepts on the socket.
    int32_t open();

    // 0 with `reply` filled, the simulator's own non-zero status, SMC_STATUS_TIMEOUT when it did
    // not answer in time, or SMC_STATUS_NOT_RESPONDING when the connection broke. A failed
    // exchange drops the connection and the next one connects again, so a restarted simulator is
    // picked up without reopening the SMC.
    int32_t call(const smc_param& request, smc_param& reply) override;

  private:
    static constexpr std::size_t kAnswerSize = 4 + sizeof(smc_param);
    enum class Outcome { ok, stale, timeout, broken };

    static constexpr int64_t kSliceMs = 50;

    Outcome exchange(const smc_param& request, unsigned char (&answer)[kAnswerSize]);
    // Waits for `events` on the socket until `until`; false when the time ran out or the SMC
    // deadline stops the wait.
    bool ready(short events, std::chrono::steady_clock::time_point until) const;
    void disconnect();

    std::filesystem::path path_;
    std::chrono::milliseconds timeout_;
    int fd_ = -1;
};
