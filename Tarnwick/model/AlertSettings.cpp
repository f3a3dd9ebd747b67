#include "Tarnwick/model/AlertSettings.h"

#include "Tarnwick/model/UserDefaults.h"

namespace {

struct Key {
    bool AlertSettings::*field;
    const char* name;
};

constexpr Key kKeys[] = {
    {&AlertSettings::chipHot, "alertChipHot"},
    {&AlertSettings::fanFailure, "alertFanFailure"},
    {&AlertSettings::controlStopped, "alertControlStopped"},
};

}  // namespace

AlertSettings AlertSettings::load(const QSettings& settings) {
    AlertSettings loaded;
    for (const Key& key : kKeys) {
        loaded.*key.field = UserDefaults::readBool(settings, QString::fromLatin1(key.name))
                                .value_or(loaded.*key.field);
    }
    return loaded;
}

void AlertSettings::save(QSettings& settings) const {
    for (const Key& key : kKeys) settings.setValue(QString::fromLatin1(key.name), this->*key.field);
}
