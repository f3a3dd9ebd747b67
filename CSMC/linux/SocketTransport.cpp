#include "CSMC/linux/SocketTransport.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <utility>

#include "CSMC/deadline.h"

namespace {

timeval toTimeval(std::chrono::milliseconds timeout) {
    timeval tv{};
    tv.tv_sec = static_cast<time_t>(timeout.count() / 1000);
    tv.tv_usec = static_cast<suseconds_t>((timeout.count() % 1000) * 1000);
    return tv;
}

bool fillAddress(const std::string& path, sockaddr_un& address) {
    if (path.size() >= sizeof address.sun_path) return false;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

// A socket path longer than sun_path (a deep sandbox root) is reached through its folder's
// descriptor instead of being refused.
int connectTo(int fd, const std::filesystem::path& path) {
    sockaddr_un address{};
    if (fillAddress(path.string(), address)) {
        return ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    }
    const int dir = ::open(path.parent_path().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) return -1;
    const std::string viaFd =
        "/proc/self/fd/" + std::to_string(dir) + "/" + path.filename().string();
    int result = -1;
    if (fillAddress(viaFd, address)) {
        result = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    } else {
        errno = ENAMETOOLONG;
    }
    const int saved = errno;
    ::close(dir);
    errno = saved;
    return result;
}

}  // namespace

SocketTransport::SocketTransport(std::filesystem::path socketPath,
                                 std::chrono::milliseconds timeout)
    : path_(std::move(socketPath)), timeout_(timeout) {}

SocketTransport::~SocketTransport() { disconnect(); }

void SocketTransport::disconnect() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

int32_t SocketTransport::open() {
    disconnect();
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return SMC_STATUS_NOT_RESPONDING;
    // The send timeout also bounds connect() on a Unix socket whose listener's backlog is full
    // (a stopped simulator's fills up); connecting in slices lets a stop or deadline end it.
    const timeval tv = toTimeval(timeout_);
    const timeval slice = toTimeval(std::chrono::milliseconds(kSliceMs));
    if (::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) != 0 ||
        ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &slice, sizeof slice) != 0) {
        ::close(fd);
        return SMC_STATUS_NOT_RESPONDING;
    }
    const auto until = std::chrono::steady_clock::now() + timeout_;
    int result = connectTo(fd, path_);
    // An interrupted connect may have completed meanwhile; asking again reports EISCONN then.
    while (result != 0 && (errno == EINTR || errno == EAGAIN) && !SmcDeadline::expired() &&
           std::chrono::steady_clock::now() < until) {
        result = connectTo(fd, path_);
    }
    if (result == 0) ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    if (result != 0 && errno != EISCONN) {
        ::close(fd);
        return SMC_STATUS_NOT_RESPONDING;
    }
    fd_ = fd;
    return 0;
}

bool SocketTransport::ready(short events, std::chrono::steady_clock::time_point until) const {
    for (;;) {
        const auto now = std::chrono::steady_clock::now();
        if (SmcDeadline::expired() || now >= until) return false;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - now);
        pollfd fd{fd_, events, 0};
        const int result =
            ::poll(&fd, 1, static_cast<int>(std::min<int64_t>(left.count() + 1, kSliceMs)));
        if (result != 0 && !(result < 0 && errno == EINTR)) return true;
    }
}

SocketTransport::Outcome SocketTransport::exchange(const smc_param& request,
                                                   unsigned char (&answer)[kAnswerSize]) {
    // Waited for in slices, so that a stop or the caller's deadline ends a hung exchange early.
    const auto until = std::chrono::steady_clock::now() + timeout_;
    const auto* out = reinterpret_cast<const unsigned char*>(&request);
    size_t sent = 0;
    while (sent < sizeof request) {
        if (!ready(POLLOUT, until)) return Outcome::timeout;
        const ssize_t n = ::send(fd_, out + sent, sizeof request - sent, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) return Outcome::timeout;
            // The peer went away before it could have seen the whole request.
            if (sent == 0 && (errno == EPIPE || errno == ECONNRESET)) return Outcome::stale;
            return Outcome::broken;
        }
        sent += static_cast<size_t>(n);
    }
    size_t received = 0;
    while (received < kAnswerSize) {
        if (!ready(POLLIN, until)) return Outcome::timeout;
        const ssize_t n = ::recv(fd_, answer + received, kAnswerSize - received, 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) return Outcome::timeout;
            if (received == 0 && errno == ECONNRESET) return Outcome::stale;
            return Outcome::broken;
        }
        if (n == 0) return received == 0 ? Outcome::stale : Outcome::broken;
        received += static_cast<size_t>(n);
    }
    return Outcome::ok;
}

int32_t SocketTransport::call(const smc_param& request, smc_param& reply) {
    const bool reused = fd_ >= 0;
    if (!reused && open() != 0) return SMC_STATUS_NOT_RESPONDING;

    unsigned char answer[kAnswerSize];
    Outcome outcome = exchange(request, answer);
    // A connection kept from before a simulator restart fails without an answer; the request
    // then never reached a live simulator, so one resend on a fresh connection is safe (and SMC
    // writes set values, so even a repeat would be harmless).
    if (outcome == Outcome::stale && reused) {
        if (open() != 0) return SMC_STATUS_NOT_RESPONDING;
        outcome = exchange(request, answer);
    }
    if (outcome != Outcome::ok) {
        // A late answer would be taken for the next exchange's; only a new connection is clean.
        disconnect();
        return outcome == Outcome::timeout ? SMC_STATUS_TIMEOUT : SMC_STATUS_NOT_RESPONDING;
    }

    const uint32_t status = uint32_t{answer[0]} | (uint32_t{answer[1]} << 8) |
                            (uint32_t{answer[2]} << 16) | (uint32_t{answer[3]} << 24);
    if (status != 0) return static_cast<int32_t>(status);
    std::memcpy(&reply, answer + 4, sizeof reply);
    return 0;
}
