#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace support {

// Polls `condition` every 20 ms until it holds (true) or `timeout` passes (false); it is always
// asked at least once.
inline bool eventually(const std::function<bool()>& condition,
                       std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (condition()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

// True when a Unix stream socket at `path` accepts a connection: the socket file appears at
// bind(), a moment before its server listens.
inline bool acceptsConnections(const std::filesystem::path& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const std::string text = path.string();
    if (text.size() >= sizeof addr.sun_path) {
        ::close(fd);
        return false;
    }
    std::memcpy(addr.sun_path, text.c_str(), text.size() + 1);
    const bool connected =
        ::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0;
    ::close(fd);
    return connected;
}

// Where a child's output goes: an empty path leaves the stream as this process's; `errors` equal
// to `output` sends both into one file. Files are appended to and created when missing.
struct ChildOutput {
    std::filesystem::path output;
    std::filesystem::path errors;
};

// A child process with its input from /dev/null; killed and reaped when dropped unfinished.
class Child {
  public:
    // Starts argv[0] (a path) with this process's environment, where the NAME=value entries of
    // `environment` replace or add variables; throws std::runtime_error when it cannot start.
    Child(const std::vector<std::string>& argv, const std::vector<std::string>& environment = {},
          const ChildOutput& streams = {}) {
        std::vector<std::string> env;
        for (char** e = environ; *e != nullptr; ++e) {
            const std::string entry = *e;
            const auto eq = entry.find('=');
            bool replaced = false;
            for (const std::string& mine : environment) {
                if (mine.substr(0, mine.find('=')) == entry.substr(0, eq)) replaced = true;
            }
            if (!replaced) env.push_back(entry);
        }
        env.insert(env.end(), environment.begin(), environment.end());
        std::vector<char*> envp;
        for (std::string& e : env) envp.push_back(e.data());
        envp.push_back(nullptr);
        std::vector<std::string> args = argv;
        std::vector<char*> argp;
        for (std::string& a : args) argp.push_back(a.data());
        argp.push_back(nullptr);

        constexpr int kAppend = O_WRONLY | O_CREAT | O_APPEND;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        if (!streams.output.empty()) {
            posix_spawn_file_actions_addopen(&actions, 1, streams.output.c_str(), kAppend, 0644);
        }
        if (!streams.errors.empty() && streams.errors == streams.output) {
            posix_spawn_file_actions_adddup2(&actions, 1, 2);
        } else if (!streams.errors.empty()) {
            posix_spawn_file_actions_addopen(&actions, 2, streams.errors.c_str(), kAppend, 0644);
        }
        const int error = posix_spawn(&pid_, argp[0], &actions, nullptr, argp.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        if (error != 0) {
            pid_ = -1;
            throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(error));
        }
    }
    ~Child() {
        if (pid_ > 0 && !status_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    pid_t pid() const { return pid_; }
    void signal(int number) const { ::kill(pid_, number); }

    // The wait status once the child has ended within `timeout`; none while it still runs.
    std::optional<int> wait(std::chrono::milliseconds timeout) {
        if (status_) return status_;
        eventually(
            [this] {
                int status = 0;
                if (::waitpid(pid_, &status, WNOHANG) == pid_) status_ = status;
                return status_.has_value();
            },
            timeout);
        return status_;
    }

    // Sends `number` and waits, however long it takes, for the child to end; its wait status.
    int stop(int number) {
        if (!status_) {
            ::kill(pid_, number);
            int status = 0;
            ::waitpid(pid_, &status, 0);
            status_ = status;
        }
        return *status_;
    }

    bool running() { return !wait(std::chrono::milliseconds(0)).has_value(); }

    // The signals the child blocks, from /proc (bit n-1 for signal n).
    unsigned long long blockedSignals() const {
        std::ifstream in("/proc/" + std::to_string(pid_) + "/status");
        for (std::string line; std::getline(in, line);) {
            if (line.starts_with("SigBlk:")) return std::stoull(line.substr(7), nullptr, 16);
        }
        return 0;
    }

  private:
    pid_t pid_ = -1;
    std::optional<int> status_;
};

// True when `status` (from Child::wait) is a normal exit with `code`.
inline bool exitedWith(const std::optional<int>& status, int code) {
    return status && WIFEXITED(*status) && WEXITSTATUS(*status) == code;
}

}  // namespace support
