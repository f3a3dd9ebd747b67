#include "Tarnwick/panel/views/TempRow.h"

#include <QHBoxLayout>

#include "FanCore/Text/Temperature.h"
#include "Tarnwick/widgets/SymbolView.h"

Tone Limits::toneFor(double value) const {
    if (value >= hot) return Tone::red;
    if (value >= warm) return Tone::yellow;
    return Tone::primary;
}

QString batteryName(const PowerState& power) {
    QString name = QStringLiteral("battery");
    if (power.percent) name += QStringLiteral(" %1 %").arg(*power.percent);
    if (power.charging) {
        name += QStringLiteral(" · charging");
    } else if (power.onAC) {
        name += QStringLiteral(" · not charging");
    }
    return name;
}

QString temperatureText(double value) { return QString::fromStdString(FanText::celsius(value, 1)); }

TempRow::TempRow(const QString& icon, const QString& name, Limits limits, QWidget* parent)
    : QWidget(parent),
      limits_(limits),
      icon_(new SymbolView(icon, 13, Tone::secondary, 18, this)),
      name_(new Text(name, Theme::TextStyle::body, Tone::primary, this)),
      value_(new Text({}, Theme::TextStyle::body, Tone::primary, this)) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    layout->addWidget(icon_);
    layout->addWidget(name_);
    layout->addStretch(1);
    value_->setTextStyle(Theme::TextStyle::body, true);
    layout->addWidget(value_);
    setVisible(false);
}

void TempRow::set(const QString& icon, const QString& name, std::optional<double> value) {
    icon_->setName(icon);
    name_->setText(name);
    setVisible(value.has_value());
    if (!value) return;
    value_->setText(temperatureText(*value));
    value_->setTone(limits_.toneFor(*value));
}

const QString& TempRow::icon() const { return icon_->name(); }
QString TempRow::name() const { return name_->text(); }
QString TempRow::valueText() const { return value_->text(); }
Tone TempRow::valueTone() const { return value_->tone(); }
