#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>

#include <thread>

#include "CSMC/linux/SocketTransport.h"
#include "SimSocketClient.h"
#include "SimTestSupport.h"
#include "sim/SimServer.h"

using simtest::RawClient;
using simtest::request;

namespace {

// The server on its own thread, as the program runs it; the machine is touched only there.
class RunningServer {
  public:
    RunningServer(const std::filesystem::path& path, SimMachine& machine) {
        std::string error;
        server_ = SimServer::listen(path, machine, error);
        if (!server_) throw std::runtime_error(error);
        if (::pipe(wake_) != 0) throw std::runtime_error("pipe");
        thread_ = std::thread([this] {
            while (!server_->serve(1000, wake_[0])) {
            }
        });
    }
    ~RunningServer() {
        stop();
        ::close(wake_[0]);
        ::close(wake_[1]);
    }
    RunningServer(const RunningServer&) = delete;
    RunningServer& operator=(const RunningServer&) = delete;
    void stop() {
        if (!thread_.joinable()) return;
        [[maybe_unused]] const ssize_t n = ::write(wake_[1], "x", 1);
        thread_.join();
        server_.reset();
    }

  private:
    std::unique_ptr<SimServer> server_;
    int wake_[2] = {-1, -1};
    std::thread thread_;
};

class SimServerTest : public ::testing::Test {
  protected:
    support::TempDir dir;
    std::filesystem::path socket = dir.path() / "smc.sock";
    SimMachine machine{simtest::profile(simtest::fanProfileJson())};
};

TEST_F(SimServerTest, ClientsGetTheirOwnAnswersWhateverTheInterleaving) {
    RunningServer server(socket, machine);
    RawClient a(socket);
    RawClient b(socket);
    ASSERT_TRUE(a.connected() && b.connected());
    const smc_param info = request(SMC_CMD_KEY_INFO, "F0Ac");
    const smc_param read = request(SMC_CMD_READ_BYTES, "RPlt", 8);
    // a sends its block in two halves around b's whole exchange.
    ASSERT_TRUE(a.send(&info, 30));
    const auto bAnswer = b.call(read);
    ASSERT_TRUE(a.send(reinterpret_cast<const uint8_t*>(&info) + 30, sizeof info - 30));
    const auto aAnswer = a.readAnswer();
    ASSERT_TRUE(aAnswer && bAnswer);
    EXPECT_EQ(aAnswer->status, 0);
    EXPECT_EQ(aAnswer->reply.data_size, 4u);
    EXPECT_EQ(aAnswer->reply.data_type, SimCodec::pack("flt "));
    EXPECT_EQ(bAnswer->status, 0);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(bAnswer->reply.bytes)), "j514s");
}

TEST_F(SimServerTest, GarbageAndBrokenClientsDoNotDisturbOthers) {
    RunningServer server(socket, machine);
    RawClient steady(socket);
    {
        RawClient garbage(socket);
        uint8_t noise[80];
        for (size_t i = 0; i < sizeof noise; ++i) noise[i] = static_cast<uint8_t>(i * 37 + 11);
        const auto answer = garbage.call(*reinterpret_cast<const smc_param*>(noise));
        ASSERT_TRUE(answer) << "nonsense still gets an answer";
        EXPECT_EQ(answer->status, 0);
        EXPECT_NE(answer->reply.result, 0);
        RawClient halfway(socket);
        ASSERT_TRUE(halfway.send(noise, 41));  // and then it disappears
    }
    for (int i = 0; i < 3; ++i) {
        const auto answer = steady.call(request(SMC_CMD_READ_BYTES, "FNum", 1));
        ASSERT_TRUE(answer);
        EXPECT_EQ(answer->reply.result, 0);
        EXPECT_EQ(answer->reply.bytes[0], 2);
    }
}

TEST_F(SimServerTest, AClientThatStopsReadingDoesNotBlockOthersAndLosesNothing) {
    RunningServer server(socket, machine);
    RawClient greedy(socket);
    const smc_param one = request(SMC_CMD_KEY_AT_INDEX);
    constexpr size_t kRequests = 1500;  // replies well past the server's pending limit
    std::vector<smc_param> many(kRequests, one);
    for (size_t i = 0; i < kRequests; ++i) many[i].index = static_cast<uint32_t>(i % 5);
    ASSERT_TRUE(greedy.send(many.data(), many.size() * sizeof(smc_param)));

    RawClient polite(socket);
    const auto answer = polite.call(request(SMC_CMD_READ_BYTES, "FNum", 1));
    ASSERT_TRUE(answer) << "served while the other client's replies pile up";
    EXPECT_EQ(answer->reply.bytes[0], 2);

    for (size_t i = 0; i < kRequests; ++i) {
        const auto reply = greedy.readAnswer();
        ASSERT_TRUE(reply) << i;
        ASSERT_EQ(reply->reply.result, 0) << i;
        ASSERT_NE(reply->reply.key, 0u) << i;
    }
}

TEST_F(SimServerTest, HalfClosedClientStillGetsItsReply) {
    RunningServer server(socket, machine);
    RawClient client(socket);
    const smc_param block = request(SMC_CMD_READ_BYTES, "FNum", 1);
    ASSERT_TRUE(client.send(&block, sizeof block));
    ASSERT_EQ(::shutdown(client.fd(), SHUT_WR), 0);
    const auto answer = client.readAnswer();
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->reply.bytes[0], 2);
    uint8_t extra;
    EXPECT_EQ(::recv(client.fd(), &extra, 1, 0), 0) << "then the server closes";
}

TEST_F(SimServerTest, IoFaultTravelsAsTheLittleEndianStatus) {
    machine.setFaults({{}, {}, true});
    RunningServer server(socket, machine);
    RawClient client(socket);
    const auto answer = client.call(request(SMC_CMD_KEY_INFO, "FNum"));
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->status, SMC_STATUS_IO_ERROR);
}

TEST_F(SimServerTest, TheSystemsSocketTransportTalksToIt) {
    RunningServer server(socket, machine);
    SocketTransport transport(socket);
    ASSERT_EQ(transport.open(), 0);
    smc_param reply;
    ASSERT_EQ(transport.call(request(SMC_CMD_WRITE_BYTES, "Ftst", 1, {1}), reply), 0);
    EXPECT_EQ(reply.result, 0);
    ASSERT_EQ(transport.call(request(SMC_CMD_READ_BYTES, "Ftst", 1), reply), 0);
    EXPECT_EQ(reply.bytes[0], 1);
}

TEST_F(SimServerTest, ReplacesAStaleSocketButRefusesALiveOneOrAnyOtherFile) {
    std::string error;
    {
        // A socket left by a process that died: bound, never served.
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, socket.c_str(), sizeof address.sun_path - 1);
        ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
        ::close(fd);
    }
    auto first = SimServer::listen(socket, machine, error);
    ASSERT_TRUE(first) << error;
    EXPECT_FALSE(SimServer::listen(socket, machine, error));
    EXPECT_NE(error.find("another simulator"), std::string::npos) << error;
    first.reset();
    EXPECT_FALSE(std::filesystem::exists(socket)) << "a stopped server removes its socket";

    support::writeText(socket, "precious");
    EXPECT_FALSE(SimServer::listen(socket, machine, error));
    EXPECT_NE(error.find("not a socket"), std::string::npos) << error;
    EXPECT_EQ(support::readText(socket), "precious");
}

TEST_F(SimServerTest, DoesNotRemoveASocketThatReplacedItsOwn) {
    std::string error;
    auto server = SimServer::listen(socket, machine, error);
    ASSERT_TRUE(server) << error;
    std::filesystem::remove(socket);
    support::writeText(socket, "successor");
    server.reset();
    EXPECT_EQ(support::readText(socket), "successor");
}

TEST_F(SimServerTest, DeepRootsBeyondTheSocketPathLimitStillWork) {
    std::filesystem::path deep = dir.path();
    for (int i = 0; i < 6; ++i) deep /= std::string(20, static_cast<char>('a' + i));
    std::filesystem::create_directories(deep);
    const std::filesystem::path path = deep / "smc.sock";
    ASSERT_GT(path.string().size(), sizeof(sockaddr_un::sun_path));
    RunningServer server(path, machine);
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_TRUE(S_ISSOCK(info.st_mode));
    SocketTransport transport(path);
    ASSERT_EQ(transport.open(), 0);
    smc_param reply;
    ASSERT_EQ(transport.call(request(SMC_CMD_KEY_INFO, "FNum"), reply), 0);
    EXPECT_EQ(reply.data_size, 1u);
}

}  // namespace
