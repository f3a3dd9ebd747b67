#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "tarnwickd/ServiceNotifier.h"

namespace {

// A datagram socket standing in for the service manager's notification socket.
class Listener {
  public:
    // `name` is a path, or an abstract name when it starts with '@'.
    explicit Listener(const std::string& name) {
        fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::memcpy(addr.sun_path, name.data(), name.size());
        if (name.front() == '@') addr.sun_path[0] = '\0';
        auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size());
        bound_ = ::bind(fd_, reinterpret_cast<const sockaddr*>(&addr), length) == 0;
        timeval timeout{2, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    }
    ~Listener() { ::close(fd_); }
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    bool bound() const { return bound_; }

    std::string receive() const {
        char buffer[256];
        const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
        return n < 0 ? std::string("<nothing>") : std::string(buffer, static_cast<size_t>(n));
    }

  private:
    int fd_ = -1;
    bool bound_ = false;
};

std::filesystem::path freshDir() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "tarnwick-notify-XXXXXX").string();
    return ::mkdtemp(pattern.data());
}

TEST(ServiceNotifier, SendsDatagramsToPathSocket) {
    const auto dir = freshDir();
    const std::string path = (dir / "notify").string();
    const Listener listener(path);
    ASSERT_TRUE(listener.bound());
    const ServiceNotifier notifier(path);
    EXPECT_TRUE(notifier.send("READY=1"));
    EXPECT_TRUE(notifier.send("WATCHDOG=1"));
    EXPECT_EQ(listener.receive(), "READY=1");
    EXPECT_EQ(listener.receive(), "WATCHDOG=1");
    std::filesystem::remove_all(dir);
}

TEST(ServiceNotifier, SendsToAbstractNameGivenWithAt) {
    const std::string name = "@tarnwick-notify-test-" + std::to_string(::getpid());
    const Listener listener(name);
    ASSERT_TRUE(listener.bound());
    const ServiceNotifier notifier(name);
    EXPECT_TRUE(notifier.send("WATCHDOG=1"));
    EXPECT_EQ(listener.receive(), "WATCHDOG=1");
}

TEST(ServiceNotifier, WithoutUsableAddressDoesNothing) {
    ::unsetenv("NOTIFY_SOCKET");
    for (const std::string& address : {std::string(), std::string("relative/socket"),
                                       std::string("@"), std::string("/"), std::string(200, '/')}) {
        const ServiceNotifier notifier(address);
        EXPECT_FALSE(notifier.enabled()) << address;
        EXPECT_FALSE(notifier.send("READY=1")) << address;
    }
    EXPECT_FALSE(ServiceNotifier().enabled());
}

TEST(ServiceNotifier, MissingListenerFailsWithoutBlocking) {
    const auto dir = freshDir();
    const ServiceNotifier notifier((dir / "nobody").string());
    EXPECT_TRUE(notifier.enabled());
    EXPECT_FALSE(notifier.send("WATCHDOG=1"));
    std::filesystem::remove_all(dir);
}

}  // namespace
