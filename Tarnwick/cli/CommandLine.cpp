#include "Tarnwick/cli/CommandLine.h"

#include <QDir>
#include <QFileInfo>
#include <QLibraryInfo>

#include "Tarnwick/cli/SetCommand.h"
#include "Tarnwick/cli/StatusCommand.h"
#include "Tarnwick/cli/Usage.h"

namespace {

struct Option {
    const char* name;
    bool takesValue;
};

// The application's own options, and the values they accept ("" for any).
struct AppOption {
    Option option;
    const char* values;
};

constexpr AppOption kAppOptions[] = {
    {{"--diagnostics", false}, ""},     {{"--snapshot", true}, ""}, {{"--about", false}, ""},
    {{"--expand-menu-bar", false}, ""}, {{"--history", true}, ""},  {{"--show-panel", false}, ""},
    {{"--demo", true}, "warm|hot"},     {{"--no-fans", false}, ""},
};

// The options QApplication takes itself (with one dash or two); a session manager that restores
// the application passes -session.
constexpr Option kQtOptions[] = {
    {"-platform", true},      {"-platformpluginpath", true},
    {"-platformtheme", true}, {"-plugin", true},
    {"-style", true},         {"-stylesheet", true},
    {"-session", true},       {"-display", true},
    {"-geometry", true},      {"-qwindowgeometry", true},
    {"-qwindowtitle", true},  {"-qwindowicon", true},
    {"-name", true},          {"-title", true},
    {"-reverse", false},      {"-widgetcount", false},
    {"-nograb", false},       {"-dograb", false},
    {"-sync", false},
};

// How `word` is given to Qt: "--style=x" is Qt's "-style" with its value attached.
const Option* qtOption(const QString& word, bool* valueAttached) {
    QString name = word.startsWith(u"--") ? word.mid(1) : word;
    *valueAttached = name.contains(u'=');
    name = name.section(u'=', 0, 0);
    for (const Option& option : kQtOptions) {
        if (name == QLatin1String(option.name)) return &option;
    }
    return nullptr;
}

// A misuse among the application's options, or absent.
std::optional<QString> misuse(const QStringList& words) {
    for (qsizetype i = 0; i < words.size(); ++i) {
        const QString& word = words[i];
        const AppOption* known = nullptr;
        for (const AppOption& option : kAppOptions) {
            if (word == QLatin1String(option.option.name)) known = &option;
        }
        bool attached = false;
        const Option* qt = known ? &known->option : qtOption(word, &attached);
        if (!qt) {
            if (!word.startsWith(u'-')) {
                if (i == 0) {
                    return QStringLiteral("unknown command '") + word +
                           QStringLiteral("' (status, set)");
                }
                return QStringLiteral("unexpected argument '") + word + u'\'';
            }
            return QStringLiteral("unknown option '") + word + u'\'';
        }
        if (!qt->takesValue || attached) continue;
        if (i + 1 >= words.size()) {
            if (word == u"--snapshot") {
                return QStringLiteral("--snapshot needs the path of the picture to write");
            }
            return word + QStringLiteral(" needs a value");
        }
        const QString& value = words[++i];
        if (known && *known->values &&
            !QString::fromLatin1(known->values).split(u'|').contains(value)) {
            return word + QStringLiteral(" takes ") +
                   QString::fromLatin1(known->values).replace(u'|', QStringLiteral(" or ")) +
                   QStringLiteral(", not '") + value + u'\'';
        }
    }
    return std::nullopt;
}

// The platform plugins Qt would try, from -platform or QT_QPA_PLATFORM ("wayland;xcb" is a list,
// "xcb:option" carries options); empty for Qt's default.
QStringList platformsAsked(const QStringList& words) {
    QString asked = qEnvironmentVariable("QT_QPA_PLATFORM");
    for (qsizetype i = 0; i + 1 < words.size(); ++i) {
        if (words[i] == u"-platform" || words[i] == u"--platform") asked = words[i + 1];
    }
    QStringList names;
    for (const QString& entry : asked.split(u';', Qt::SkipEmptyParts)) {
        names << entry.section(u':', 0, 0).trimmed();
    }
    return names;
}

bool pluginInstalled(const QString& platform) {
    QStringList folders = qEnvironmentVariable("QT_QPA_PLATFORM_PLUGIN_PATH").split(u':');
    for (const QString& path : qEnvironmentVariable("QT_PLUGIN_PATH").split(u':')) {
        folders << path + QStringLiteral("/platforms");
    }
    folders << QLibraryInfo::path(QLibraryInfo::PluginsPath) + QStringLiteral("/platforms");
    for (const QString& folder : folders) {
        if (!folder.isEmpty() && QFileInfo::exists(folder + QStringLiteral("/libq") + platform +
                                                   QStringLiteral(".so"))) {
            return true;
        }
    }
    return false;
}

// Why the tray application cannot show here, before Qt would abort over it; absent when some
// platform Qt tries can work.
std::optional<QString> displayProblem(const QStringList& words) {
    const bool x11 = !qEnvironmentVariableIsEmpty("DISPLAY");
    const bool wayland = !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    const QStringList platforms = platformsAsked(words);
    if (platforms.isEmpty() && (x11 || wayland)) return std::nullopt;
    QString missing;
    for (const QString& platform : platforms) {
        if (platform == u"xcb"                ? x11
            : platform.startsWith(u"wayland") ? wayland
                                              : pluginInstalled(platform)) {
            return std::nullopt;
        }
        if (platform != u"xcb" && !platform.startsWith(u"wayland") && missing.isEmpty()) {
            missing = platform;
        }
    }
    const QString why = missing.isEmpty() ? QStringLiteral(
                                                "no display to show the tray application on "
                                                "(DISPLAY and WAYLAND_DISPLAY are unset)")
                                          : QStringLiteral("the Qt platform plugin '") + missing +
                                                QStringLiteral("' is not installed");
    return why + QStringLiteral("; 'tarnwick status' and 'tarnwick set' work without a display");
}

}  // namespace

namespace CommandLine {

std::optional<int> run(const QStringList& arguments) {
    if (arguments.size() >= 2) {
        const QString& first = arguments[1];
        const QStringList rest = arguments.mid(2);
        if (first == u"status") return StatusCommand::run(rest);
        if (first == u"set") return SetCommand::run(rest);
    }
    if (arguments.contains(QStringLiteral("--help")) || arguments.contains(QStringLiteral("-h"))) {
        return Usage::print(Usage::program()) ? Usage::ok : Usage::failure;
    }
    if (arguments.contains(QStringLiteral("--version"))) {
        return Usage::print(Usage::version()) ? Usage::ok : Usage::failure;
    }
    const QStringList words = arguments.mid(1);
    if (const std::optional<QString> wrong = misuse(words)) return Usage::misused({}, *wrong);
    // A picture and the report need no display.
    if (words.contains(QStringLiteral("--snapshot")) ||
        words.contains(QStringLiteral("--diagnostics"))) {
        return std::nullopt;
    }
    if (const std::optional<QString> problem = displayProblem(words)) {
        return Usage::failed({}, *problem);
    }
    return std::nullopt;
}

}  // namespace CommandLine
