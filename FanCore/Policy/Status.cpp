#include "FanCore/Policy/Status.h"

#include <chrono>
#include <cmath>
#include <nlohmann/json.hpp>

#include "FanCore/Policy/Paths.h"
#include "FanCore/Policy/SafeFile.h"

using json = nlohmann::json;

namespace {

constexpr double freshSeconds = 10.0;

// A finite number, or nothing: a value beyond the range of a double parses as infinity and would
// make a status fresh for ever.
std::optional<double> finiteNumber(const json& document, const char* key) {
    const auto member = document.find(key);
    if (member == document.end() || !member->is_number()) return std::nullopt;
    const double value = member->get<double>();
    if (!std::isfinite(value)) return std::nullopt;
    return value;
}

}  // namespace

std::optional<Status> Status::load() {
    const std::optional<std::string> text = SafeFile::readBounded(Paths::status());
    if (!text) return std::nullopt;
    return decode(*text);
}

std::optional<Status> Status::decode(std::string_view text) {
    const json document = json::parse(text.begin(), text.end(), nullptr, false);
    if (document.is_discarded() || !document.is_object()) return std::nullopt;

    const std::optional<double> updated = finiteNumber(document, "updated");
    const std::optional<double> targetRPM = finiteNumber(document, "targetRPM");
    const auto manual = document.find("manual");
    const auto reason = document.find("reason");
    if (!updated || !targetRPM || manual == document.end() || !manual->is_boolean() ||
        reason == document.end() || !reason->is_string()) {
        return std::nullopt;
    }

    Status status{*updated, manual->get<bool>(), *targetRPM, reason->get<std::string>(), {}};
    if (const auto error = document.find("error"); error != document.end() && !error->is_null()) {
        if (!error->is_string()) return std::nullopt;
        status.error = error->get<std::string>();
    }
    return status;
}

std::string Status::encode() const {
    json document = {
        {"updated", updated}, {"manual", manual}, {"targetRPM", targetRPM}, {"reason", reason}};
    if (error) document["error"] = *error;
    // Texts that are not valid UTF-8 get replacement characters rather than an exception.
    return document.dump(-1, ' ', false, json::error_handler_t::replace);
}

std::expected<void, std::string> Status::save() const {
    // JSON has no NaN or infinity, and a null in their place would make the file unreadable.
    if (!std::isfinite(updated) || !std::isfinite(targetRPM)) {
        return std::unexpected("cannot encode status for " + Paths::status().string() +
                               ": time stamp or target speed is not a finite number");
    }
    return SafeFile::writeAtomically(Paths::status(), encode());
}

bool Status::isFresh() const {
    const std::chrono::duration<double> now = std::chrono::system_clock::now().time_since_epoch();
    return isFresh(now.count());
}

bool Status::isFresh(double now) const { return std::abs(now - updated) < freshSeconds; }
