#include "Tarnwick/model/PendingSettings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "FanCore/Policy/SafeFile.h"
#include "Tarnwick/model/UserDefaults.h"

namespace PendingSettings {

QString path(const QString& userDefaultsFile) {
    const QString defaults = userDefaultsFile.isEmpty() ? UserDefaults::path() : userDefaultsFile;
    return QFileInfo(defaults).dir().filePath(QStringLiteral("pending-config.json"));
}

std::optional<Config> load(const QString& file) {
    const std::optional<std::string> text = SafeFile::readBounded(file.toStdString());
    if (!text) return std::nullopt;
    return Config::decode(*text);
}

std::expected<void, QString> save(const Config& config, const QString& file) {
    const QString folder = QFileInfo(file).absolutePath();
    if (!QDir().mkpath(folder)) return std::unexpected(QStringLiteral("cannot create ") + folder);
    const auto written = SafeFile::writeAtomically(file.toStdString(), config.encode());
    if (!written) return std::unexpected(QString::fromStdString(written.error()));
    return {};
}

void discard(const QString& file) { QFile::remove(file); }

}  // namespace PendingSettings
