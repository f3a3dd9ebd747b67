#include "FanCore/Sensors/Sensors.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <iterator>
#include <thread>

#include "CSMC/hid.h"
#include "CSMC/smc.h"
#include "FanCore/SMC/SMC.h"
#include "FanCore/Sensors/Chip.h"

namespace {

// Outside this window a key holds a flag, a limit or garbage, not a measured temperature.
bool plausible(double celsius) { return celsius > 10 && celsius < 130; }

bool whole(double value) { return value == std::round(value); }

// The third generation of Apple silicon names its die sensors "Tf..", and only these are chip
// cores; on other generations the same names measure other things.
bool inM3CPU(std::string_view key) {
    static constexpr std::array<std::string_view, 12> set = {"Tf04", "Tf09", "Tf0A", "Tf0B",
                                                             "Tf0D", "Tf0E", "Tf44", "Tf49",
                                                             "Tf4A", "Tf4B", "Tf4D", "Tf4E"};
    return std::find(set.begin(), set.end(), key) != set.end();
}

bool inM3GPU(std::string_view key) {
    static constexpr std::array<std::string_view, 8> set = {"Tf14", "Tf18", "Tf19", "Tf1A",
                                                            "Tf24", "Tf28", "Tf29", "Tf2A"};
    return std::find(set.begin(), set.end(), key) != set.end();
}

std::optional<double> maximum(const std::vector<double>& values) {
    if (values.empty()) return std::nullopt;
    return *std::max_element(values.begin(), values.end());
}

template <typename Match>
std::optional<double> maximumOf(const std::vector<Sensors::HidPair>& pairs, Match match) {
    std::optional<double> best;
    for (const auto& pair : pairs) {
        if (!match(pair.name)) continue;
        if (!best || pair.value > *best) best = pair.value;
    }
    return best;
}

bool contains(const std::string& name, std::string_view part) {
    return name.find(part) != std::string::npos;
}

std::vector<double> atMost(const std::vector<double>& values, double cap) {
    std::vector<double> kept;
    std::copy_if(values.begin(), values.end(), std::back_inserter(kept),
                 [cap](double v) { return v <= cap; });
    return kept;
}

std::optional<double> orElse(std::optional<double> first, std::optional<double> second) {
    return first ? first : second;
}

}  // namespace

Sensors::Sensors(std::chrono::milliseconds pause) {
    struct Candidate {
        uint32_t key;
        std::string group;
        double first;
    };
    // The result is not needed: every later request opens on demand when no connection exists.
    smc_open();
    const std::optional<int64_t> generation = Chip::generation();
    std::vector<Candidate> candidates;
    for (const uint32_t key : SMC::allKeys()) {
        const std::string name = SMC::name(key);
        if (!name.starts_with('T')) continue;
        auto group = groupFor(name, generation);
        if (!group) continue;
        double value = 0;
        if (smc_read_double(key, &value) == 0 || !plausible(value)) continue;
        candidates.push_back({key, std::move(*group), value});
    }

    // A fraction in the first read already shows a measured value; only a whole one needs a
    // second look. On a coarse source any readable key is kept and probation finds the constant
    // ones later, so the second read is at once. Elsewhere a whole value is read again until it
    // shows a fraction, for at most `pause`: a live sensor is seen as soon as it moves, and only
    // a key that stays whole costs the whole wait.
    const bool coarse = smc_coarse_temperatures();
    std::vector<std::optional<double>> second(candidates.size());
    std::vector<size_t> open;
    for (size_t i = 0; i < candidates.size(); ++i) {
        if (whole(candidates[i].first)) open.push_back(i);
    }
    const auto deadline = std::chrono::steady_clock::now() + pause;
    const auto step = std::max(pause / 6, std::chrono::milliseconds(1));
    while (!open.empty()) {
        if (!coarse) {
            std::this_thread::sleep_until(
                std::min(deadline, std::chrono::steady_clock::now() + step));
        }
        std::erase_if(open, [&](size_t i) {
            double value = 0;
            second[i] = smc_read_double(candidates[i].key, &value) != 0
                            ? std::optional<double>(value)
                            : std::nullopt;
            return coarse || (second[i] && !whole(*second[i]));
        });
        if (std::chrono::steady_clock::now() >= deadline) break;
    }

    for (size_t i = 0; i < candidates.size(); ++i) {
        const Candidate& candidate = candidates[i];
        if (!keepCandidate(candidate.first, second[i], coarse)) continue;
        if (coarse && whole(candidate.first) && second[i] == candidate.first) {
            probation_[candidate.key] = {candidate.first, 0};
        }
        groups[candidate.group].push_back(candidate.key);
    }
}

bool Sensors::keepCandidate(double first, std::optional<double> second, bool coarse) {
    if (!whole(first)) return true;
    if (coarse) return second.has_value();
    return second && !whole(*second);
}

bool Sensors::believe(uint32_t key, double value) const {
    if (std::find(placeholders_.begin(), placeholders_.end(), key) != placeholders_.end()) {
        return false;
    }
    const auto it = probation_.find(key);
    if (it == probation_.end()) return true;
    if (value != it->second.value) {
        probation_.erase(it);  // it moves: a measured value
        return true;
    }
    if (++it->second.reads < probationReads) return true;
    probation_.erase(it);
    placeholders_.push_back(key);
    return false;
}

std::optional<std::string> Sensors::groupFor(std::string_view key,
                                             std::optional<int64_t> generation) {
    if (key == "Ts0P" || key == "Ts1P") return "palm";
    if (key == "TCHP") return std::nullopt;
    if (key == "TW0P") return "wifi";
    if (key.starts_with("Tf")) {
        if (generation != 3) return std::nullopt;
        if (inM3CPU(key)) return "cpu";
        if (inM3GPU(key)) return "gpu";
        return std::nullopt;
    }
    const std::string_view prefix = key.substr(0, 2);
    if (prefix == "Tp" || prefix == "Te" || prefix == "TC") return "cpu";
    if (prefix == "Tg") return "gpu";
    if (prefix == "TH") return "ssd";
    if (prefix == "TB") return "battery";
    if (prefix == "Ta") return "air";
    return std::nullopt;
}

std::vector<Sensors::HidPair> Sensors::hid() {
    constexpr int32_t kSlots = 128;
    std::vector<char> names(static_cast<std::size_t>(kSlots) * 64, '\0');
    std::vector<double> values(kSlots, 0.0);
    const int32_t count = hid_temperatures(names.data(), values.data(), kSlots);
    std::vector<HidPair> pairs;
    for (int32_t k = 0; k < std::clamp(count, 0, kSlots); ++k) {
        const std::size_t slot = static_cast<std::size_t>(k);
        const char* name = names.data() + slot * 64;
        const double value = values[slot];
        if (!plausible(value)) continue;
        // The slot is terminated by hid_temperatures; bound the scan by the slot anyway.
        pairs.push_back({std::string(name, ::strnlen(name, 64)), value});
    }
    return pairs;
}

std::optional<double> Sensors::value(uint32_t key) const {
    double value = 0;
    if (smc_read_double(key, &value) == 0 || !plausible(value) || !believe(key, value)) {
        return std::nullopt;
    }
    return value;
}

std::vector<double> Sensors::values(const std::string& group, Keys keys) const {
    std::vector<double> out;
    const auto found = groups.find(group);
    if (found == groups.end()) return out;
    const std::vector<uint32_t>& codes = found->second;
    Sweep& sweep = sweeps_[group];
    // Until a read of every key found the hottest, and again whenever the hottest stops
    // answering, a sweep reads them all.
    if (keys == Keys::sweep && codes.size() > 2 && sweep.hottest) {
        const size_t hottest = *sweep.hottest;
        if (sweep.next == hottest) sweep.next = (sweep.next + 1) % codes.size();
        const size_t other = sweep.next;
        sweep.next = (sweep.next + 1) % codes.size();
        const std::optional<double> top = value(codes[hottest]);
        if (top) {
            out.push_back(*top);
            if (const auto challenger = value(codes[other])) {
                out.push_back(*challenger);
                if (*challenger > *top) sweep.hottest = other;
            }
            return out;
        }
    }
    std::optional<double> best;
    sweep.hottest.reset();
    for (size_t at = 0; at < codes.size(); ++at) {
        const std::optional<double> read = value(codes[at]);
        if (!read) continue;
        out.push_back(*read);
        if (!best || *read > *best) {
            best = read;
            sweep.hottest = at;
        }
    }
    return out;
}

Readings Sensors::read(Scope scope, Keys keys) const {
    const std::vector<HidPair> pairs = hid();
    GroupValues current;
    current.cpu = values("cpu", keys);
    current.gpu = values("gpu", keys);
    // In the order of the reading rules, so that the SMC sees the same sequence either way.
    const bool everything = scope == Scope::everything;
    if (everything) lastComplete_.ssd = values("ssd", keys);
    if (scope != Scope::chip) lastComplete_.battery = values("battery", keys);
    if (everything) {
        lastComplete_.wifi = values("wifi", keys);
        lastComplete_.air = values("air", keys);
        lastComplete_.palm = values("palm", keys);
    }
    current.ssd = lastComplete_.ssd;
    current.battery = lastComplete_.battery;
    current.wifi = lastComplete_.wifi;
    current.air = lastComplete_.air;
    current.palm = lastComplete_.palm;
    return combine(current, pairs);
}

Readings Sensors::combine(const GroupValues& groups, const std::vector<HidPair>& pairs) {
    Readings out;
    out.die = maximumOf(pairs, [](const std::string& n) { return contains(n, "tdie"); });
    const double cap = out.die ? *out.die + 25 : 130;

    out.cpu = maximum(atMost(groups.cpu, cap));
    if (!out.cpu) {
        out.cpu = maximumOf(
            pairs, [](const std::string& n) { return contains(n, "ACC") || contains(n, "CPU"); });
    }
    if (!out.cpu) out.cpu = out.die;

    out.gpu = orElse(maximum(atMost(groups.gpu, cap)),
                     maximumOf(pairs, [](const std::string& n) { return contains(n, "GPU"); }));
    out.ssd = orElse(maximum(groups.ssd),
                     maximumOf(pairs, [](const std::string& n) { return contains(n, "NAND"); }));
    out.battery =
        orElse(maximum(groups.battery),
               maximumOf(pairs, [](const std::string& n) { return contains(n, "battery"); }));
    out.wifi = maximum(groups.wifi);
    out.airflow = maximum(groups.air);
    out.palmRest = maximum(groups.palm);
    return out;
}
