#include "sim/SimAppleSmc.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <optional>
#include <system_error>

#include "CSMC/linux/SysfsFile.h"
#include "sim/SimCodec.h"
#include "sim/SimFile.h"

namespace {

using Clock = std::chrono::steady_clock;

// Waiting readers are looked for this often (milliseconds): briskly while clients are reading,
// lazily while none has for a second.
constexpr int kBusyPollMs = 1;
constexpr int kIdlePollMs = 5;
constexpr auto kBusyFor = std::chrono::seconds(1);

std::string fanFile(int fan, const char* what) {
    return "fan" + std::to_string(fan + 1) + "_" + what;
}

std::string fanKey(int fan, const char* suffix) { return "F" + std::to_string(fan) + suffix; }

// Waits `ms` (fractions allowed) unless `wakeFd` becomes readable first; true when it did.
bool waitOn(int wakeFd, double ms) {
    if (ms <= 0) return false;
    pollfd fd{wakeFd, POLLIN, 0};
    const auto whole = static_cast<long>(ms);
    timespec wait{whole / 1000, static_cast<long>((ms - static_cast<double>(whole)) * 1e6) +
                                    (whole % 1000) * 1000000L};
    int ready;
    do {
        ready = ::ppoll(&fd, wakeFd >= 0 ? 1 : 0, &wait, nullptr);
    } while (ready < 0 && errno == EINTR);
    return ready > 0;
}

}  // namespace

std::filesystem::path SimAppleSmc::folder(const std::filesystem::path& root) {
    return root / "sys/devices/platform/applesmc.768";
}

long long SimAppleSmc::millidegrees(double celsius) {
    return static_cast<long long>(std::floor(celsius * 4)) * 250;
}

SimAppleSmc::SimAppleSmc(std::filesystem::path dir, SimMachine& machine)
    : dir_(std::move(dir)), machine_(machine) {}

SimAppleSmc::~SimAppleSmc() {
    if (notify_ >= 0) ::close(notify_);
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

std::unique_ptr<SimAppleSmc> SimAppleSmc::publish(const std::filesystem::path& root,
                                                  SimMachine& machine, std::string& error) {
    std::unique_ptr<SimAppleSmc> front(new SimAppleSmc(folder(root), machine));
    if (!front->build(error)) return nullptr;
    return front;
}

bool SimAppleSmc::build(std::string& error) {
    std::error_code code;
    std::filesystem::remove_all(dir_, code);
    if (!code) std::filesystem::create_directories(dir_, code);
    if (code) {
        error = dir_.string() + ": " + code.message();
        return false;
    }
    std::vector<const SimKey*> listed;
    for (const SimKey& key : machine_.profile().keys) {
        if (key.indexed) listed.push_back(&key);
    }
    std::sort(listed.begin(), listed.end(),
              [](const SimKey* a, const SimKey* b) { return a->code < b->code; });
    if (!SimFile::replace(dir_ / "name", "applesmc\n", error) ||
        !SimFile::replace(dir_ / "key_count", std::to_string(listed.size()) + "\n", error) ||
        !SimFile::replace(dir_ / "key_at_index", "0\n", error)) {
        return false;
    }
    pipes_ = {{"key_at_index_name", Reading::keyName},
              {"key_at_index_type", Reading::keyType},
              {"key_at_index_data_length", Reading::keyLength},
              {"key_at_index_data", Reading::keyData}};

    const int fans = static_cast<int>(machine_.value("FNum").value_or(0));
    const bool modeKeys = machine_.value("F0Md").has_value();
    for (int fan = 0; fan < fans && fan < 10; ++fan) {
        if (!machine_.value(fanKey(fan, "Ac"))) break;
        if (const auto id = machine_.bytes(fanKey(fan, "ID")); id && id->size() > 4) {
            // The driver prints the name the SMC keeps after the ID's first four bytes.
            std::string label(id->begin() + 4, id->end());
            label.erase(std::find(label.begin(), label.end(), '\0'), label.end());
            if (!SimFile::replace(dir_ / fanFile(fan, "label"), label + "\n", error)) return false;
        }
        const auto plain = [&](const char* file, std::string key, Shows shows, bool writable) {
            plains_.push_back({fanFile(fan, file), std::move(key), shows, fan, writable, {}, 0});
        };
        plain("input", fanKey(fan, "Ac"), Shows::speed, false);
        plain("min", fanKey(fan, "Mn"), Shows::number, true);
        plain("max", fanKey(fan, "Mx"), Shows::number, false);
        if (machine_.value(fanKey(fan, "Sf"))) {
            plain("safe", fanKey(fan, "Sf"), Shows::number, false);
        }
        plain("output", fanKey(fan, "Tg"), Shows::number, true);
        if (modeKeys) {
            plain("manual", fanKey(fan, "Md"), Shows::number, true);
        } else {
            plain("manual", "FS! ", Shows::modeBit, true);
        }
    }
    int sensor = 0;
    for (const SimKey* key : listed) {
        if (key->name[0] != 'T' || !SimCodec::decode(key->type, key->bytes)) continue;
        const std::string n = std::to_string(++sensor);
        if (!SimFile::replace(dir_ / ("temp" + n + "_label"), key->name + "\n", error)) {
            return false;
        }
        plains_.push_back({"temp" + n + "_input", key->name, Shows::temperature, -1, false, {}, 0});
    }
    for (Plain& plain : plains_) {
        if (!publishPlain(plain, error, true)) return false;
    }
    for (const Pipe& pipe : pipes_) {
        if (::mkfifo((dir_ / pipe.file).c_str(), 0644) != 0) {
            error = (dir_ / pipe.file).string() + ": " + std::strerror(errno);
            return false;
        }
    }
    notify_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (notify_ < 0 || ::inotify_add_watch(notify_, dir_.c_str(), IN_CLOSE_WRITE | IN_ACCESS) < 0) {
        error = dir_.string() + ": cannot watch for reads and writes: " + std::strerror(errno);
        return false;
    }
    // What the simulator wrote before the watch began left no events to wait for.
    for (Plain& plain : plains_) plain.ownWrites = 0;
    return true;
}

std::optional<double> SimAppleSmc::readable(const std::string& key) const {
    const SimControl& control = machine_.control();
    if (control.faults.io || machine_.sleepLeft() > 0 || control.faults.read.contains(key)) {
        return std::nullopt;
    }
    for (const SimKey& known : machine_.profile().keys) {
        if (known.name != key) continue;
        if (!known.readable || known.bytes.size() > 32) return std::nullopt;
        return SimCodec::decode(known.type, known.bytes);
    }
    return std::nullopt;
}

std::string SimAppleSmc::plainText(const Plain& plain) const {
    switch (plain.shows) {
        case Shows::number:
            return std::to_string(static_cast<long long>(machine_.value(plain.key).value_or(0))) +
                   "\n";
        case Shows::modeBit: {
            const auto mask = static_cast<long long>(machine_.value(plain.key).value_or(0));
            return std::to_string((mask >> plain.fan) & 1) + "\n";
        }
        case Shows::speed: {
            const std::optional<double> rpm = readable(plain.key);
            if (!rpm) return {};
            return std::to_string(static_cast<long long>(std::max(*rpm, 0.0))) + "\n";
        }
        case Shows::temperature: {
            const std::optional<double> celsius = readable(plain.key);
            return celsius ? std::to_string(millidegrees(*celsius)) + "\n" : std::string();
        }
    }
    return {};
}

bool SimAppleSmc::publishPlain(Plain& plain, std::string& error, bool always) {
    const std::string text = plainText(plain);
    if (text == plain.shown && !always) return true;
    if (!SimFile::rewrite(dir_ / plain.file, text, error)) return false;
    if (plain.writable) ++plain.ownWrites;
    plain.shown = text;
    return true;
}

void SimAppleSmc::takeEvents() {
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(notify_, buffer, sizeof buffer);
        if (n <= 0) return;
        for (ssize_t at = 0; at < n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            if (event->len == 0) continue;
            const std::string_view name(event->name);
            for (Plain& plain : plains_) {
                if (plain.file != name) continue;
                if (event->mask & IN_ACCESS) {
                    if (plain.ownReads > 0) {
                        --plain.ownReads;
                    } else {
                        countRead(plain);
                    }
                }
                if (!(event->mask & IN_CLOSE_WRITE) || !plain.writable) continue;
                if (plain.ownWrites > 0) {
                    --plain.ownWrites;
                } else {
                    takeWrite(plain);
                }
            }
        }
    }
}

void SimAppleSmc::countRead(const Plain& plain) {
    smc_param request{};
    request.command = SMC_CMD_READ_BYTES;
    request.key = SimCodec::pack(plain.key);
    request.data_size =
        static_cast<uint32_t>(machine_.bytes(plain.key).value_or(std::vector<uint8_t>{}).size());
    smc_param reply{};
    machine_.exchange(request, reply);
}

void SimAppleSmc::takeWrite(Plain& plain) {
    std::string error;
    bool missing = false;
    const std::optional<std::string> text = SimFile::read(dir_ / plain.file, 64, error, missing);
    // Its access event is the simulator's, not a client's read.
    if (text && !text->empty()) ++plain.ownReads;
    // Every write of a client reaches the SMC, the same value again too, as through the driver.
    if (!text) return;
    const std::optional<long long> number = SysfsFile::parseInteger(*text);
    plain.shown = *text;
    if (number) {
        double value = static_cast<double>(*number);
        if (plain.shows == Shows::modeBit) {
            const auto mask = static_cast<long long>(machine_.value("FS! ").value_or(0));
            const long long bit = 1LL << plain.fan;
            value = static_cast<double>(*number != 0 ? mask | bit : mask & ~bit);
        } else if (plain.key.ends_with("Md")) {
            value = *number != 0 ? 1 : 0;
        }
        smc_param request{};
        request.command = SMC_CMD_WRITE_BYTES;
        request.key = SimCodec::pack(plain.key);
        const std::optional<std::vector<uint8_t>> bytes = machine_.bytes(plain.key);
        std::vector<uint8_t> encoded(bytes ? bytes->size() : 0);
        const std::string type = [&] {
            smc_param info{};
            info.command = SMC_CMD_KEY_INFO;
            info.key = request.key;
            smc_param reply{};
            machine_.exchange(info, reply);
            return SimCodec::unpack(reply.data_type);
        }();
        if (encoded.size() <= sizeof request.bytes && SimCodec::encode(type, value, encoded)) {
            request.data_size = static_cast<uint32_t>(encoded.size());
            std::copy(encoded.begin(), encoded.end(), request.bytes);
            smc_param reply{};
            machine_.exchange(request, reply);
        }
    }
    // Whatever the SMC now holds is what the file shows: a refused or malformed write is undone.
    publishPlain(plain, error);
}

bool SimAppleSmc::update(std::string& error) {
    takeEvents();
    for (Plain& plain : plains_) {
        if (!publishPlain(plain, error)) return false;
    }
    return true;
}

std::optional<std::vector<uint8_t>> SimAppleSmc::readKey(uint32_t code, uint32_t size) {
    smc_param request{};
    request.command = SMC_CMD_READ_BYTES;
    request.key = code;
    request.data_size = size;
    smc_param reply{};
    if (machine_.exchange(request, reply) != 0 || reply.result != 0) return std::nullopt;
    return std::vector<uint8_t>(reply.bytes, reply.bytes + std::min<uint32_t>(size, 32));
}

std::string SimAppleSmc::pipeText(const Pipe& pipe) {
    std::string error;
    bool missing = false;
    const auto selected = SimFile::read(dir_ / "key_at_index", 64, error, missing);
    const std::optional<long long> index =
        selected ? SysfsFile::parseInteger(*selected) : std::nullopt;
    if (!index || *index < 0 || *index > 0xFFFF) return {};
    smc_param request{};
    request.command = SMC_CMD_KEY_AT_INDEX;
    request.index = static_cast<uint32_t>(*index);
    smc_param reply{};
    if (machine_.exchange(request, reply) != 0 || reply.result != 0) return {};
    const uint32_t code = reply.key;
    request = {};
    request.command = SMC_CMD_KEY_INFO;
    request.key = code;
    smc_param info{};
    if (machine_.exchange(request, info) != 0 || info.result != 0) return {};
    switch (pipe.reading) {
        case Reading::keyName:
            return SimCodec::unpack(code) + "\n";
        case Reading::keyType:
            return SimCodec::unpack(info.data_type) + "\n";
        case Reading::keyLength:
            return std::to_string(info.data_size) + "\n";
        case Reading::keyData: {
            const auto bytes = readKey(code, info.data_size);
            return bytes ? std::string(bytes->begin(), bytes->end()) : std::string();
        }
    }
    return {};
}

bool SimAppleSmc::answer(const Pipe& pipe, int wakeFd, bool& woken) {
    const std::filesystem::path path = dir_ / pipe.file;
    const int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;  // nobody is waiting to read it
    // The reader still holds this pipe until it has read the answer and its end; a fresh pipe
    // under the name keeps the next look from mistaking it for a new reader.
    const std::filesystem::path fresh = dir_ / ("." + pipe.file);
    if (::mkfifo(fresh.c_str(), 0644) != 0 || ::rename(fresh.c_str(), path.c_str()) != 0) {
        ::unlink(fresh.c_str());
    }
    // The reader closed every file it wrote before it opened this pipe, so those writes are all
    // in the event queue now: they reach the SMC before the read is answered, as through the
    // driver, whatever the moment the loop last looked at the queue.
    takeEvents();
    // The driver keeps what it learnt about each key; only reading a value waits for the SMC.
    const bool slow = pipe.reading == Reading::keyData;
    woken = slow && waitOn(wakeFd, machine_.control().latencyMs);
    if (!woken) {
        const std::string text = pipeText(pipe);
        if (!text.empty()) {
            ssize_t n;
            do {
                n = ::write(fd, text.data(), text.size());
            } while (n < 0 && errno == EINTR);
        }
    }
    ::close(fd);
    lastAnswer_ = Clock::now();
    return true;
}

bool SimAppleSmc::serve(int timeoutMs, int wakeFd) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        takeEvents();
        bool answered = false;
        for (const Pipe& pipe : pipes_) {
            bool woken = false;
            answered = answer(pipe, wakeFd, woken) || answered;
            if (woken) return true;
        }
        const auto now = Clock::now();
        if (now >= deadline) return false;
        if (answered) continue;
        const int pollMs = now - lastAnswer_ < kBusyFor ? kBusyPollMs : kIdlePollMs;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now);
        pollfd fds[2] = {{wakeFd, POLLIN, 0}, {notify_, POLLIN, 0}};
        int ready;
        do {
            ready = ::poll(fds, 2, static_cast<int>(std::min<int64_t>(left.count() + 1, pollMs)));
        } while (ready < 0 && errno == EINTR);
        if (ready > 0 && wakeFd >= 0 && (fds[0].revents & POLLIN)) return true;
    }
}
