#include "tarnwickd/ServiceNotifier.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace {

std::string_view environmentAddress() {
    const char* value = std::getenv("NOTIFY_SOCKET");
    return value == nullptr ? std::string_view() : std::string_view(value);
}

}  // namespace

ServiceNotifier::ServiceNotifier() : ServiceNotifier(environmentAddress()) {}

ServiceNotifier::ServiceNotifier(std::string_view address) {
    // Only absolute paths and abstract names are socket addresses the manager hands out.
    if (address.size() < 2 || (address.front() != '/' && address.front() != '@')) return;
    if (address.size() > sizeof(sockaddr_un::sun_path)) return;
    address_ = std::string(address);
    if (address_.front() == '@') address_.front() = '\0';
    fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
}

ServiceNotifier::~ServiceNotifier() {
    if (fd_ >= 0) ::close(fd_);
}

bool ServiceNotifier::send(std::string_view message) const {
    if (fd_ < 0) return false;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, address_.data(), address_.size());
    // A path is counted with its terminating NUL when it fits; an abstract name exactly.
    socklen_t length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + address_.size());
    if (address_.front() != '\0' && address_.size() < sizeof addr.sun_path) ++length;
    const ssize_t sent = ::sendto(fd_, message.data(), message.size(), MSG_NOSIGNAL,
                                  reinterpret_cast<const sockaddr*>(&addr), length);
    return sent == static_cast<ssize_t>(message.size());
}
