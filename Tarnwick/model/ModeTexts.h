#pragma once

// The panel's sentences about fan control: who drives the fans, what the boost does, and why
// the cooling settings wait.

#include <QString>
#include <optional>

#include "FanCore/Policy/Config.h"
#include "FanCore/Policy/Status.h"
#include "Tarnwick/model/FanControlState.h"

namespace ModeTexts {

// The boost strength in words and the temperatures it acts between, for the boost the daemon
// applies (config.sanitized(): out of range clamped, non-finite as the default).
QString boostLabel(const Config& config);
QString boostDetail(const Config& config);

// `state` in one line, with the reason and error of `status` (present for every state after
// notRunning); " · fans left manual" where nothing drives a fan in manual control. A manual
// target that is not finite or does not fit a 64-bit integer shows as an en dash.
QString modeLine(FanControlState state, const std::optional<Status>& status, bool fansLeftManual);

// A note for the cooling controls while no daemon acts on them; empty when one does or there
// are no fans.
QString settingsNote(bool hasFans, bool installed, bool running);

}  // namespace ModeTexts
