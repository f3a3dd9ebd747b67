#include "sim/SimControlFile.h"

#include "sim/SimFile.h"

std::string SimControlFile::refresh(SimMachine& machine) {
    std::string error;
    bool missing = false;
    std::optional<std::string> text = SimFile::read(path_, kMaxBytes, error, missing);
    if (!text && !missing) {
        // An unreadable file is a problem of its own; its content is not known to have changed.
        if (error == lastError_) return {};
        lastError_ = error;
        return error + "; keeping the previous control";
    }
    if (!first_ && text == last_ && lastError_.empty() && !rejected_) return {};
    first_ = false;
    last_ = text;

    const SimControl defaults = SimControl::defaults(machine.profile());
    if (!text) {
        rejected_.reset();
        machine.setControl(defaults);
        lastError_.clear();
        return {};
    }
    SimControl::Parsed parsed = SimControl::parse(*text, defaults);
    std::string problem = parsed.control ? machine.setControl(*parsed.control) : parsed.error;
    if (problem.empty()) {
        lastError_.clear();
        rejected_.reset();
        return {};
    }
    // A shell's `>` or an editor saving in place leaves the file empty or half written for a
    // moment; a content is only called wrong when the next tick still finds it unchanged.
    if (rejected_ != text) {
        rejected_ = text;
        return {};
    }
    problem = path_.string() + ": " + problem;
    if (problem == lastError_) return {};
    lastError_ = problem;
    return problem + "; keeping the previous control";
}
