#include "Tarnwick/panel/views/ControlSection.h"

#include <QHBoxLayout>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "FanCore/Text/Rpm.h"
#include "Tarnwick/model/Model.h"
#include "Tarnwick/widgets/LabeledSlider.h"
#include "Tarnwick/widgets/SegmentedControl.h"
#include "Tarnwick/widgets/Text.h"

namespace {
// More positions than any slider has pixels; a bound on what a misreported fan range can build.
constexpr double maxSteps = 100000;
}  // namespace

std::optional<SpeedSteps> SpeedSteps::between(double minimum, double maximum) {
    if (!std::isfinite(minimum) || !std::isfinite(maximum) || minimum > maximum) {
        return std::nullopt;
    }
    const double steps = std::min(std::floor((maximum - minimum) / 100.0), maxSteps);
    return SpeedSteps{minimum, static_cast<int>(steps)};
}

int SpeedSteps::stepFor(double rpm) const {
    if (std::isnan(rpm)) return 0;
    const double step = std::round((rpm - minimum) / 100.0);
    return static_cast<int>(std::clamp(step, 0.0, static_cast<double>(steps)));
}

ControlSection::ControlSection(Model& model, QWidget* parent)
    : QWidget(parent),
      model_(model),
      picker_(new SegmentedControl({QStringLiteral("auto"), QStringLiteral("manual")}, this)),
      auto_(new QWidget(this)),
      manual_(new QWidget(this)),
      strength_(new LabeledSlider(QStringLiteral("firmware"), QStringLiteral("max"), auto_)),
      speed_(new LabeledSlider(QStringLiteral("min"), QStringLiteral("max"), manual_)),
      boostLabel_(new Text({}, Theme::TextStyle::body, Tone::secondary, auto_)),
      boostDetail_(new Text({}, Theme::TextStyle::caption, Tone::secondary, auto_)),
      speedText_(new Text({}, Theme::TextStyle::body, Tone::secondary, manual_)),
      note_(new Text({}, Theme::TextStyle::caption, Tone::secondary, this)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    auto* header = new QHBoxLayout;
    header->addWidget(
        new Text(QStringLiteral("Cooling"), Theme::TextStyle::headline, Tone::primary, this));
    header->addStretch(1);
    header->addWidget(picker_);
    layout->addLayout(header);
    note_->setWraps(true);
    layout->addWidget(note_);
    layout->addWidget(auto_);
    layout->addWidget(manual_);

    auto* autoLayout = new QVBoxLayout(auto_);
    autoLayout->setContentsMargins(0, 0, 0, 0);
    autoLayout->setSpacing(6);
    auto* strengthRow = new QHBoxLayout;
    strengthRow->addWidget(
        new Text(QStringLiteral("strength"), Theme::TextStyle::body, Tone::primary, auto_));
    strengthRow->addStretch(1);
    strengthRow->addWidget(boostLabel_);
    autoLayout->addLayout(strengthRow);
    autoLayout->addWidget(strength_);
    // Arrow keys in steps of 5 %, Page Up/Down of 25 %.
    strength_->setSteps(strengthPositions / 20, strengthPositions / 4);
    // Screen readers announce the controls by these names; the labels beside them are not tied
    // to them.
    picker_->setAccessibleName(QStringLiteral("fan control mode"));
    strength_->slider()->setAccessibleName(QStringLiteral("strength"));
    speed_->slider()->setAccessibleName(QStringLiteral("fixed speed"));
    boostDetail_->setWraps(true);
    autoLayout->addWidget(boostDetail_);

    auto* manualLayout = new QVBoxLayout(manual_);
    manualLayout->setContentsMargins(0, 0, 0, 0);
    manualLayout->setSpacing(6);
    auto* speedRow = new QHBoxLayout;
    speedRow->addWidget(
        new Text(QStringLiteral("fixed speed"), Theme::TextStyle::body, Tone::primary, manual_));
    speedRow->addStretch(1);
    speedText_->setTextStyle(Theme::TextStyle::body, true);
    speedRow->addWidget(speedText_);
    manualLayout->addLayout(speedRow);
    manualLayout->addWidget(speed_);
    auto* explanation = new Text(
        QStringLiteral("fans hold this speed; it is still raised if the chip gets too hot"),
        Theme::TextStyle::caption, Tone::secondary, manual_);
    explanation->setWraps(true);
    manualLayout->addWidget(explanation);

    connect(picker_, &SegmentedControl::activated, this, [this](int index) {
        Config config = model_.config();
        config.manualMode = index == 1;
        model_.setConfig(config);
    });
    connect(strength_, &LabeledSlider::moved, this, [this](int position) {
        Config config = model_.config();
        config.boost = static_cast<double>(position) / strengthPositions;
        model_.setConfig(config);
    });
    connect(speed_, &LabeledSlider::moved, this, [this](int position) {
        if (!steps_) return;
        Config config = model_.config();
        config.manualRPM = steps_->speedAt(position);
        model_.setConfig(config);
    });
    sync();
}

void ControlSection::sync() {
    const Config& config = model_.config();
    const QString note = model_.settingsNote();
    note_->setText(note);
    note_->setVisible(!note.isEmpty());
    picker_->setSelected(config.manualMode ? 1 : 0);
    auto_->setVisible(!config.manualMode);
    manual_->setVisible(config.manualMode);

    boostLabel_->setText(model_.boostLabel());
    boostDetail_->setText(model_.boostDetail());
    const double boost = std::isnan(config.boost) ? 0.0 : std::clamp(config.boost, 0.0, 1.0);
    strength_->setState(0, strengthPositions,
                        static_cast<int>(std::lround(boost * strengthPositions)));

    speedText_->setText(QString::fromStdString(FanText::truncatedRpm(config.manualRPM)));
    // Fans whose ranges do not overlap leave no speed that suits them all: the slider is shown
    // but cannot be moved, and the stored speed stays as it is.
    steps_ = SpeedSteps::between(model_.minRPM(), model_.maxRPM());
    speed_->setEnabled(steps_.has_value());
    if (steps_) {
        speed_->setState(0, steps_->steps, steps_->stepFor(config.manualRPM));
    } else {
        speed_->setState(0, 0, 0);
    }
}
