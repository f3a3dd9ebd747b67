#include "Tarnwick/AppOptions.h"

#include "Tarnwick/model/History.h"

namespace {

// The word after the first `option`; absent when the option is missing or last.
std::optional<QString> valueOf(const QStringList& arguments, const QString& option) {
    const qsizetype at = arguments.indexOf(option);
    if (at < 0 || at + 1 >= arguments.size()) return std::nullopt;
    return arguments[at + 1];
}

}  // namespace

std::expected<AppOptions, QString> AppOptions::parse(const QStringList& arguments) {
    AppOptions options;
    const auto given = [&arguments](const char* option) {
        return arguments.contains(QLatin1String(option));
    };
    if (given("--diagnostics")) {
        options.diagnostics = true;
        return options;
    }
    if (given("--history")) {
        bool ok = false;
        const int seconds =
            valueOf(arguments, QStringLiteral("--history")).value_or(QString()).toInt(&ok);
        if (!ok || seconds < 0 || seconds > History::window) {
            return std::unexpected(QStringLiteral("--history takes 0 to 900 seconds"));
        }
        options.historySeconds = seconds;
    }
    options.snapshot = valueOf(arguments, QStringLiteral("--snapshot"));
    if (!options.snapshot && given("--snapshot")) {
        return std::unexpected(QStringLiteral("--snapshot needs the path of the picture to write"));
    }
    options.about = given("--about");
    options.expandMenuBar = given("--expand-menu-bar");
    options.showPanel = given("--show-panel");
    const std::optional<QString> demo = valueOf(arguments, QStringLiteral("--demo"));
    if (demo == QLatin1String("warm") || demo == QLatin1String("hot")) options.demo = demo;
    options.noFans = given("--no-fans");
    options.platformChosen = given("-platform");
    return options;
}
