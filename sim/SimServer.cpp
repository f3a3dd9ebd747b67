#include "sim/SimServer.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

namespace {

// Unix socket paths are short; a deep sandbox root is reached through its folder's descriptor.
struct SocketAddress {
    sockaddr_un address{};
    int folder = -1;
    ~SocketAddress() {
        if (folder >= 0) ::close(folder);
    }
    bool set(const std::filesystem::path& path) {
        address.sun_family = AF_UNIX;
        std::string text = path.string();
        if (text.size() >= sizeof address.sun_path) {
            folder = ::open(path.parent_path().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
            if (folder < 0) return false;
            text = "/proc/self/fd/" + std::to_string(folder) + "/" + path.filename().string();
            if (text.size() >= sizeof address.sun_path) {
                errno = ENAMETOOLONG;
                return false;
            }
        }
        std::memcpy(address.sun_path, text.c_str(), text.size() + 1);
        return true;
    }
    const sockaddr* get() const { return reinterpret_cast<const sockaddr*>(&address); }
};

std::string failure(const std::filesystem::path& path, const char* what) {
    return path.string() + ": " + what + ": " + std::strerror(errno);
}

// Whether something answers on the socket at `path`.
bool live(const SocketAddress& address) {
    const int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (probe < 0) return false;
    const bool answered = ::connect(probe, address.get(), sizeof address.address) == 0;
    ::close(probe);
    return answered;
}

void appendLittleEndian(std::vector<uint8_t>& out, int32_t value) {
    const auto bits = static_cast<uint32_t>(value);
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<uint8_t>(bits >> shift));
}

}  // namespace

std::unique_ptr<SimServer> SimServer::listen(const std::filesystem::path& path, SimMachine& machine,
                                             std::string& error) {
    SocketAddress address;
    if (!address.set(path)) {
        error = failure(path, "cannot address the socket");
        return nullptr;
    }
    struct stat existing {};
    if (::lstat(path.c_str(), &existing) == 0) {
        if (!S_ISSOCK(existing.st_mode)) {
            error = path.string() + ": exists and is not a socket; not replacing it";
            return nullptr;
        }
        if (live(address)) {
            error = path.string() + ": another simulator is serving this root";
            return nullptr;
        }
        ::unlink(path.c_str());
    }
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        error = failure(path, "cannot create a socket");
        return nullptr;
    }
    if (::bind(fd, address.get(), sizeof address.address) != 0) {
        error = failure(path, "cannot bind");
        ::close(fd);
        return nullptr;
    }
    if (::listen(fd, 16) != 0) {
        error = failure(path, "cannot listen");
        ::close(fd);
        ::unlink(path.c_str());
        return nullptr;
    }
    std::unique_ptr<SimServer> server(new SimServer(fd, path, machine));
    struct stat bound {};
    if (::lstat(path.c_str(), &bound) == 0) {
        server->device_ = bound.st_dev;
        server->inode_ = bound.st_ino;
    }
    return server;
}

SimServer::SimServer(int fd, std::filesystem::path path, SimMachine& machine)
    : fd_(fd), path_(std::move(path)), machine_(machine) {}

SimServer::~SimServer() {
    for (const auto& client : clients_) ::close(client->fd);
    ::close(fd_);
    // Only our own socket: a successor may already have replaced it.
    struct stat current {};
    if (::lstat(path_.c_str(), &current) == 0 && current.st_dev == device_ &&
        current.st_ino == inode_) {
        ::unlink(path_.c_str());
    }
}

void SimServer::accept() {
    for (;;) {
        const int fd = ::accept4(fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) return;  // EAGAIN, or a peer that gave up before we got to it
        if (clients_.size() >= kMaxClients) {
            ::close(fd);
            continue;
        }
        auto client = std::make_unique<Client>();
        client->fd = fd;
        clients_.push_back(std::move(client));
    }
}

bool SimServer::receive(Client& client) {
    uint8_t buffer[kRequestSize * 16];
    const ssize_t n = ::recv(client.fd, buffer, sizeof buffer, 0);
    if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
    if (n == 0) {
        client.closing = true;  // a partial block never gets an answer
        client.have = 0;
        return !client.out.empty();
    }
    for (size_t used = 0; used < static_cast<size_t>(n);) {
        const size_t take = std::min(kRequestSize - client.have, static_cast<size_t>(n) - used);
        std::memcpy(client.request + client.have, buffer + used, take);
        client.have += take;
        used += take;
        if (client.have < kRequestSize) break;
        client.have = 0;
        smc_param request;
        std::memcpy(&request, client.request, sizeof request);
        smc_param reply;
        const int32_t status = machine_.exchange(request, reply);
        // One SMC serves every client in turn, so a slow read holds them all up.
        const double latency = machine_.control().latencyMs;
        if (request.command == SMC_CMD_READ_BYTES && latency > 0) {
            std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(latency));
        }
        appendLittleEndian(client.out, status);
        const auto* bytes = reinterpret_cast<const uint8_t*>(&reply);
        client.out.insert(client.out.end(), bytes, bytes + sizeof reply);
    }
    return true;
}

bool SimServer::send(Client& client) {
    while (!client.out.empty()) {
        const ssize_t n =
            ::send(client.fd, client.out.data(), client.out.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
        client.out.erase(client.out.begin(), client.out.begin() + n);
    }
    return !client.closing;
}

bool SimServer::serve(int timeoutMs, int wakeFd) {
    std::vector<pollfd> fds;
    fds.push_back({fd_, POLLIN, 0});
    fds.push_back({wakeFd, POLLIN, 0});
    for (const auto& client : clients_) {
        short events = 0;
        if (!client->closing && client->out.size() < kMaxPendingReply) events |= POLLIN;
        if (!client->out.empty()) events |= POLLOUT;
        fds.push_back({client->fd, events, 0});
    }
    int ready;
    do {
        ready = ::poll(fds.data(), fds.size(), timeoutMs);
    } while (ready < 0 && errno == EINTR);
    if (ready <= 0) return false;

    std::vector<bool> keep(clients_.size(), true);
    for (size_t i = 0; i < clients_.size(); ++i) {
        const short revents = fds[i + 2].revents;
        Client& client = *clients_[i];
        if (revents & (POLLIN | POLLHUP | POLLERR)) {
            // Read first even on a hang-up: the last requests may still be in the socket.
            keep[i] = (revents & POLLIN) != 0 && receive(client);
        }
        if (keep[i] && !client.out.empty()) keep[i] = send(client);
    }
    for (size_t i = clients_.size(); i > 0; --i) {
        if (!keep[i - 1]) {
            ::close(clients_[i - 1]->fd);
            clients_.erase(clients_.begin() + static_cast<std::ptrdiff_t>(i - 1));
        }
    }
    if (fds[0].revents & POLLIN) accept();
    return wakeFd >= 0 && (fds[1].revents & POLLIN) != 0;
}
