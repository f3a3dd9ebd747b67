#include "Tarnwick/panel/views/BatterySection.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "FanCore/Text/Temperature.h"
#include "Tarnwick/model/Model.h"
#include "Tarnwick/widgets/Stepper.h"
#include "Tarnwick/widgets/Switch.h"
#include "Tarnwick/widgets/Text.h"

BatterySection::BatterySection(Model& model, QWidget* parent)
    : QWidget(parent),
      model_(model),
      cooling_(new Switch(QStringLiteral("Cool the battery"), this)),
      targetRow_(new QWidget(this)),
      target_(new Stepper(
          lowestTarget, highestTarget, 1,
          [](double value) { return QString::fromStdString(FanText::celsius(value, 0)); },
          targetRow_)),
      charger_(new QCheckBox(QStringLiteral("only while the charger is connected"), this)) {
    target_->setAccessibleName(QStringLiteral("keep battery below"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    layout->addWidget(cooling_);
    auto* row = new QHBoxLayout(targetRow_);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(new Text(QStringLiteral("keep battery below"), Theme::TextStyle::body,
                            Tone::primary, targetRow_));
    row->addStretch(1);
    row->addWidget(target_);
    layout->addWidget(targetRow_);
    charger_->setFont(Theme::font(Theme::TextStyle::body));
    layout->addWidget(charger_);

    connect(cooling_, &Switch::toggled, this, [this](bool on) {
        Config config = model_.config();
        config.batteryCooling = on;
        model_.setConfig(config);
    });
    connect(target_, &Stepper::valueChanged, this, [this](double value) {
        Config config = model_.config();
        config.batteryTarget = value;
        model_.setConfig(config);
    });
    connect(charger_, &QCheckBox::toggled, this, [this](bool on) {
        Config config = model_.config();
        config.batteryOnlyOnAC = on;
        model_.setConfig(config);
    });
    sync();
}

void BatterySection::sync() {
    const Config& config = model_.config();
    {
        const QSignalBlocker block(cooling_);
        cooling_->setChecked(config.batteryCooling);
    }
    {
        const QSignalBlocker block(charger_);
        charger_->setChecked(config.batteryOnlyOnAC);
    }
    target_->setValue(config.batteryTarget);
    // Dimmed rather than hidden: the stored values stay readable while cooling is off.
    targetRow_->setEnabled(config.batteryCooling);
    charger_->setEnabled(config.batteryCooling);
}
