#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>
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

// A child process with its input from /dev/null, leading a process group of its own. Dropped
// unfinished, the group is killed and the child reaped (a failed ASSERT included); should this
// process die first, a crash included, the kernel kills the child (PR_SET_PDEATHSIG).
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

        // Between fork and exec only async-signal-safe calls: this process may have threads.
        int report[2];
        if (::pipe2(report, O_CLOEXEC) != 0) throw std::runtime_error("cannot start " + argv[0]);
        const pid_t parent = ::getpid();
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(report[0]);
            ::setpgid(0, 0);
            if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || ::getppid() != parent) ::_exit(127);
            const auto redirect = [](const std::filesystem::path& file, int target) {
                constexpr int kAppend = O_WRONLY | O_CREAT | O_APPEND;
                const int fd = ::open(file.c_str(), target == 0 ? O_RDONLY : kAppend, 0644);
                return fd >= 0 && ::dup2(fd, target) == target && ::close(fd) == 0;
            };
            bool ready = redirect("/dev/null", 0);
            if (!streams.output.empty()) ready = ready && redirect(streams.output, 1);
            if (!streams.errors.empty() && streams.errors == streams.output) {
                ready = ready && ::dup2(1, 2) == 2;
            } else if (!streams.errors.empty()) {
                ready = ready && redirect(streams.errors, 2);
            }
            if (ready) ::execve(argp[0], argp.data(), envp.data());
            const int error = errno;
            (void)!::write(report[1], &error, sizeof error);
            ::_exit(127);
        }
        const int forkError = errno;
        ::close(report[1]);
        int error = pid_ < 0 ? forkError : 0;
        if (pid_ > 0 && ::read(report[0], &error, sizeof error) == sizeof error) {
            ::waitpid(pid_, nullptr, 0);
        } else if (pid_ > 0) {
            error = 0;
        }
        ::close(report[0]);
        if (pid_ < 0 || error != 0) {
            pid_ = -1;
            throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(error));
        }
        // Set here too, so that a kill of the group right after the start cannot miss it.
        ::setpgid(pid_, pid_);
    }
    ~Child() {
        if (pid_ > 0 && !status_) {
            ::kill(-pid_, SIGKILL);
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

// Kills the daemon that holds the lock under the sandbox `root`, if one runs there: the install
// scripts start it in a session of its own, out of reach of Child's guard. For a test's way out.
inline void killSandboxDaemon(const std::filesystem::path& root) {
    std::ifstream lock(root / "run/tarnwick/tarnwickd.lock");
    pid_t pid = 0;
    if (!(lock >> pid) || pid <= 0) return;
    std::ifstream environment("/proc/" + std::to_string(pid) + "/environ");
    constexpr std::string_view variable = "TARNWICK_ROOT=";
    for (std::string entry; std::getline(environment, entry, '\0');) {
        std::error_code error;
        if (entry.starts_with(variable) &&
            std::filesystem::equivalent(entry.substr(variable.size()), root, error)) {
            ::kill(pid, SIGKILL);
            return;
        }
    }
}

// True when `status` (from Child::wait) is a normal exit with `code`.
inline bool exitedWith(const std::optional<int>& status, int code) {
    return status && WIFEXITED(*status) && WEXITSTATUS(*status) == code;
}

}  // namespace support
