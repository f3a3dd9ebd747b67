#include "Tarnwick/model/LoginItem.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QStringList>

namespace LoginItem {
namespace {

const QString kGroup = QStringLiteral("[Desktop Entry]");

QString fileOrDefault(const QString& file) { return file.isEmpty() ? path() : file; }

// The Exec key's quoting rules, then the escaping every string value of an entry gets.
QString execValue(const QString& executable) {
    static const QString reserved = QStringLiteral(" \t\"'\\><~|&;$*?#()`");
    bool needsQuotes = false;
    for (QChar c : executable) {
        if (reserved.contains(c)) needsQuotes = true;
    }
    QString value;
    if (needsQuotes) {
        QString quoted;
        for (QChar c : executable) {
            if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') ||
                c == QLatin1Char('\\'))
                quoted += QLatin1Char('\\');
            quoted += c;
        }
        value = QLatin1Char('"') + quoted + QLatin1Char('"');
    } else {
        value = executable;
    }
    value.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    value.replace(QLatin1Char('%'), QStringLiteral("%%"));
    return value;
}

}  // namespace

QString path() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/autostart/tarnwick.desktop");
}

bool isEnabled(const QString& file) {
    QFile entry(fileOrDefault(file));
    if (!entry.open(QIODevice::ReadOnly | QIODevice::Text)) return false;
    bool inMainGroup = false;
    while (!entry.atEnd()) {
        const QString line = QString::fromUtf8(entry.readLine()).trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inMainGroup = line == kGroup;
            continue;
        }
        if (!inMainGroup) continue;
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals < 0) continue;
        const QString key = line.left(equals).trimmed();
        const QString value = line.mid(equals + 1).trimmed();
        if (key == QLatin1String("Hidden") && value == QLatin1String("true")) return false;
        if (key == QLatin1String("X-GNOME-Autostart-enabled") && value == QLatin1String("false"))
            return false;
    }
    return true;
}

std::expected<void, QString> setEnabled(bool enabled, const QString& executable,
                                        const QString& file) {
    const QString target = fileOrDefault(file);
    if (!enabled) {
        QFile entry(target);
        if (!entry.exists() && !QFileInfo(target).isSymLink()) return {};
        if (!entry.remove()) return std::unexpected(entry.errorString());
        return {};
    }
    if (executable.isEmpty())
        return std::unexpected(QStringLiteral("the program's location is unknown"));
    if (executable.contains(QLatin1Char('\n')) || executable.contains(QLatin1Char('\r'))) {
        return std::unexpected(QStringLiteral("the program's path contains a line break"));
    }
    const QString folder = QFileInfo(target).absolutePath();
    if (!QDir().mkpath(folder)) {
        return std::unexpected(QStringLiteral("cannot create %1").arg(folder));
    }
    QSaveFile entry(target);
    if (!entry.open(QIODevice::WriteOnly | QIODevice::Text)) {
        return std::unexpected(entry.errorString());
    }
    const QString text = kGroup + QStringLiteral("\nType=Application\nName=tarnwick\n") +
                         QStringLiteral("Comment=fan speeds and temperatures\n") +
                         QStringLiteral("Exec=") + execValue(executable) +
                         QStringLiteral("\nTerminal=false\nX-GNOME-Autostart-enabled=true\n");
    entry.write(text.toUtf8());
    if (!entry.commit()) return std::unexpected(entry.errorString());
    return {};
}

}  // namespace LoginItem
