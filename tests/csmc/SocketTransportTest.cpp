#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

#include "CSMC/linux/SocketTransport.h"
#include "SmcSandbox.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

bool readAll(int fd, void* data, size_t size) {
    auto* bytes = static_cast<uint8_t*>(data);
    size_t have = 0;
    while (have < size) {
        const ssize_t n = ::recv(fd, bytes + have, size - have, 0);
        if (n <= 0) return false;
        have += static_cast<size_t>(n);
    }
    return true;
}

// The bytes a simulator answers with: status, then the reply block.
std::string answer(int32_t status, const smc_param& reply) {
    std::string bytes(4 + sizeof reply, '\0');
    for (int i = 0; i < 4; ++i) {
        bytes[static_cast<size_t>(i)] = static_cast<char>(static_cast<uint32_t>(status) >> (8 * i));
    }
    std::memcpy(bytes.data() + 4, &reply, sizeof reply);
    return bytes;
}

// A listener on a Unix socket whose connections are handled one after another on a thread by
// `handle` (given the connection and its number from 0); it knows nothing of keys.
class FakeSimulator {
  public:
    FakeSimulator(const fs::path& path, std::function<void(int, int)> handle)
        : handle_(std::move(handle)) {
        fs::create_directories(path.parent_path());
        listener_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        // Long paths are bound through the folder's descriptor, as the client reaches them.
        const int dir = ::open(path.parent_path().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        const std::string via =
            "/proc/self/fd/" + std::to_string(dir) + "/" + path.filename().string();
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, via.c_str(), via.size() + 1);
        EXPECT_EQ(::bind(listener_, reinterpret_cast<const sockaddr*>(&address), sizeof address),
                  0);
        ::close(dir);
        EXPECT_EQ(::listen(listener_, 4), 0);
        thread_ = std::thread([this] {
            for (int n = 0;; ++n) {
                const int fd = ::accept(listener_, nullptr, nullptr);
                if (fd < 0 || stopping_) {
                    if (fd >= 0) ::close(fd);
                    return;
                }
                current_ = fd;
                handle_(fd, n);
                current_ = -1;
                ::close(fd);
                ++closed_;
            }
        });
    }
    ~FakeSimulator() {
        stopping_ = true;
        ::shutdown(listener_, SHUT_RDWR);
        // A client that is still connected must not keep the handler waiting for it.
        const int fd = current_;
        if (fd >= 0) ::shutdown(fd, SHUT_RDWR);
        thread_.join();
        ::close(listener_);
    }

    // Waits until `count` connections have been handled and closed; whether they were.
    bool closedAtLeast(int count) const {
        for (int i = 0; i < 400 && closed_ < count; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return closed_ >= count;
    }

  private:
    std::function<void(int, int)> handle_;
    int listener_ = -1;
    std::atomic<bool> stopping_{false};
    std::atomic<int> current_{-1};
    std::atomic<int> closed_{0};
    std::thread thread_;
};

smc_param request(uint32_t key) {
    smc_param block{};
    block.key = key;
    block.command = SMC_CMD_KEY_INFO;
    return block;
}

// Answers every request with its key echoed and the data size 2, until the peer leaves.
void answerEach(int fd, size_t chunk) {
    smc_param in{};
    while (readAll(fd, &in, sizeof in)) {
        smc_param reply{};
        reply.key = in.key;
        reply.data_size = 2;
        const std::string bytes = answer(0, reply);
        for (size_t at = 0; at < bytes.size(); at += chunk) {
            ::send(fd, bytes.data() + at, std::min(chunk, bytes.size() - at), MSG_NOSIGNAL);
            if (chunk < bytes.size()) std::this_thread::sleep_for(1ms);
        }
    }
}

class Socket : public ::testing::Test {
  protected:
    fs::path path() const { return sandbox.path() / "run/tarnwick-sim/smc.sock"; }
    SmcSandbox sandbox;
};

TEST_F(Socket, ReplyArrivingInPiecesIsReassembled) {
    FakeSimulator sim(path(), [](int fd, int) { answerEach(fd, 7); });
    SocketTransport transport(path());
    ASSERT_EQ(transport.open(), 0);
    for (uint32_t key : {0x46000000u, 0x46000001u}) {
        smc_param reply{};
        ASSERT_EQ(transport.call(request(key), reply), 0);
        EXPECT_EQ(reply.key, key);
        EXPECT_EQ(reply.data_size, 2u);
    }
}

TEST_F(Socket, SimulatorStatusIsPassedThrough) {
    FakeSimulator sim(path(), [](int fd, int) {
        smc_param in{};
        if (!readAll(fd, &in, sizeof in)) return;
        const std::string bytes = answer(SMC_STATUS_IO_ERROR, smc_param{});
        ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    });
    SocketTransport transport(path());
    ASSERT_EQ(transport.open(), 0);
    smc_param reply{};
    EXPECT_EQ(transport.call(request(1), reply), SMC_STATUS_IO_ERROR);
}

TEST_F(Socket, SilentSimulatorTimesOutInsteadOfHanging) {
    std::atomic<bool> release{false};
    FakeSimulator sim(path(), [&](int fd, int) {
        smc_param in{};
        readAll(fd, &in, sizeof in);
        while (!release) std::this_thread::sleep_for(5ms);
    });
    SocketTransport transport(path(), 200ms);
    ASSERT_EQ(transport.open(), 0);
    smc_param reply{};
    EXPECT_EQ(transport.call(request(1), reply), SMC_STATUS_TIMEOUT);
    release = true;
}

TEST_F(Socket, HalfAnswerThenHangUpIsABrokenExchange) {
    FakeSimulator sim(path(), [](int fd, int) {
        smc_param in{};
        if (!readAll(fd, &in, sizeof in)) return;
        const std::string bytes = answer(0, smc_param{});
        ::send(fd, bytes.data(), 40, MSG_NOSIGNAL);
    });
    SocketTransport transport(path());
    ASSERT_EQ(transport.open(), 0);
    smc_param reply{};
    reply.key = 77;
    EXPECT_EQ(transport.call(request(1), reply), SMC_STATUS_NOT_RESPONDING);
    EXPECT_EQ(reply.key, 77u);
}

TEST_F(Socket, AHangUpIsRetriedOnlyOnAConnectionFromBefore) {
    std::atomic<int> connections{0};
    FakeSimulator sim(path(), [&](int fd, int) {
        ++connections;
        smc_param in{};
        readAll(fd, &in, sizeof in);
    });
    SocketTransport transport(path());
    ASSERT_EQ(transport.open(), 0);
    smc_param reply{};
    // The connection made at open may predate a restart: one retry on a fresh one.
    // The simulator counts a connection once it has accepted it: wait for that, not a while.
    const auto connectionsSettle = [&](int expected) {
        for (int i = 0; i < 400 && connections < expected; ++i) std::this_thread::sleep_for(5ms);
        return connections.load();
    };
    EXPECT_EQ(transport.call(request(1), reply), SMC_STATUS_NOT_RESPONDING);
    EXPECT_EQ(connectionsSettle(2), 2);
    // The next exchange connects again by itself, and does not retry its own connection.
    EXPECT_EQ(transport.call(request(1), reply), SMC_STATUS_NOT_RESPONDING);
    EXPECT_EQ(connectionsSettle(3), 3);
}

TEST_F(Socket, AConnectionFromBeforeARestartIsReplacedWithoutAFailure) {
    FakeSimulator sim(path(), [](int fd, int n) {
        if (n == 0) {
            // One answer, then this simulator "restarts": the old connection is dropped.
            smc_param in{};
            if (!readAll(fd, &in, sizeof in)) return;
            const std::string bytes = answer(0, smc_param{});
            ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            return;
        }
        answerEach(fd, 84);
    });
    SocketTransport transport(path());
    ASSERT_EQ(transport.open(), 0);
    smc_param reply{};
    ASSERT_EQ(transport.call(request(1), reply), 0);
    ASSERT_TRUE(sim.closedAtLeast(1));
    EXPECT_EQ(transport.call(request(2), reply), 0);
    EXPECT_EQ(reply.key, 2u);
}

TEST_F(Socket, NothingListeningFailsToOpenAndToExchange) {
    SocketTransport transport(path());
    EXPECT_EQ(transport.open(), SMC_STATUS_NOT_RESPONDING);
    smc_param reply{};
    EXPECT_EQ(transport.call(request(1), reply), SMC_STATUS_NOT_RESPONDING);
}

TEST_F(Socket, SocketPathLongerThanTheAddressLimitIsReached) {
    const fs::path deep = sandbox.path() / std::string(60, 'a') / std::string(60, 'b') / "smc.sock";
    ASSERT_GT(deep.string().size(), sizeof(sockaddr_un{}.sun_path));
    FakeSimulator sim(deep, [](int fd, int) { answerEach(fd, 84); });
    SocketTransport transport(deep);
    ASSERT_EQ(transport.open(), 0);
    smc_param reply{};
    EXPECT_EQ(transport.call(request(5), reply), 0);
    EXPECT_EQ(reply.key, 5u);
}

TEST_F(Socket, ThroughTheModuleTheSocketIsFoundUnderTheSandboxRoot) {
    FakeSimulator sim(path(), [](int fd, int) { answerEach(fd, 84); });
    ASSERT_EQ(smc_open(), 0);
    smc_info info;
    EXPECT_EQ(smc_key_info(0x464E756D, &info), 0);
    EXPECT_EQ(info.data_size, 2u);
    smc_set_transport_factory([] { return SmcOpenResult{-1, nullptr}; });
}

}  // namespace
