#pragma once

// Running the built programs as child processes inside a throw-away sandbox root: the daemon, the
// simulated Mac and the install scripts.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
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
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace e2e {

using namespace std::chrono_literals;

inline const std::filesystem::path buildDir = TARNWICK_BUILD_DIR;
inline const std::filesystem::path libexecDir = buildDir / "libexec" / "tarnwick";
inline const std::filesystem::path daemonPath = libexecDir / "tarnwickd";
inline const std::filesystem::path simPath = buildDir / "bin" / "tarnwick-sim";

// The whole file (empty when it cannot be read), in one read: daemon binaries are large.
inline std::string readText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) return {};
    std::string text(static_cast<size_t>(in.tellg()), '\0');
    in.seekg(0);
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<size_t>(in.gcount()));
    return text;
}

inline void writeText(const std::filesystem::path& path, const std::string& text) {
    std::filesystem::create_directories(path.parent_path());
    const std::filesystem::path tmp = path.string() + ".tmp";
    std::ofstream(tmp, std::ios::binary | std::ios::trunc) << text;
    std::filesystem::rename(tmp, path);
}

// Polls `condition` every 50 ms until it holds or `timeout` passes.
inline bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (condition()) return true;
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(50ms);
    }
}

// True when a Unix stream socket at `path` accepts a connection.
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

// A child process with its standard output and error in a file; killed when dropped unfinished.
class Child {
  public:
    Child(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
          const std::filesystem::path& output) {
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

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                         0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        const int error = posix_spawn(&pid_, argp[0], &actions, nullptr, argp.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        if (error != 0) {
            ADD_FAILURE() << "cannot start " << argv[0] << ": " << std::strerror(error);
            pid_ = -1;
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

    bool running() { return !wait(0ms).has_value(); }

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

inline bool exitedWith(const std::optional<int>& status, int code) {
    return status && WIFEXITED(*status) && WEXITSTATUS(*status) == code;
}

// A fresh temporary directory, removed with everything in it at the end.
class Scratch {
  public:
    Scratch() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "tarnwickd-e2e-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed";
        path_ = pattern;
    }
    ~Scratch() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

}  // namespace e2e
