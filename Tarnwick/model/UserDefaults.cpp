#include "Tarnwick/model/UserDefaults.h"

#include <QStandardPaths>
#include <QVariant>

namespace UserDefaults {

QString path() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/tarnwick/tarnwick.conf");
}

std::unique_ptr<QSettings> open(const QString& file) {
    return std::make_unique<QSettings>(file.isEmpty() ? path() : file, QSettings::IniFormat);
}

std::optional<bool> readBool(const QSettings& settings, const QString& key) {
    const QVariant value = settings.value(key);
    switch (value.typeId()) {
        case QMetaType::Bool:
            return value.toBool();
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::LongLong:
        case QMetaType::ULongLong: {
            const qlonglong number = value.toLongLong();
            if (number == 0 || number == 1) return number == 1;
            return std::nullopt;
        }
        case QMetaType::QString: {
            // QVariant::toBool() takes every text but "", "0" and "false" as true; a stray word
            // must not switch a setting on.
            const QString text = value.toString();
            if (text.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0 ||
                text == QLatin1String("1"))
                return true;
            if (text.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0 ||
                text == QLatin1String("0"))
                return false;
            return std::nullopt;
        }
        default:
            return std::nullopt;
    }
}

}  // namespace UserDefaults
