#include "Tarnwick/widgets/LabeledSlider.h"

#include <QHBoxLayout>
#include <QSignalBlocker>
#include <QStyleFactory>

#include "Tarnwick/widgets/Text.h"

namespace {

// Drawn with a style sheet so that the slider looks the same under every desktop style and in
// off-screen pictures.
QString sliderStyle(const QPalette& palette) {
    const QColor groove = Theme::faint(palette, 0.15);
    const QColor accent = Theme::accent(palette);
    const QColor border = Theme::faint(palette, 0.25);
    return QStringLiteral(
               "QSlider::groove:horizontal { height: 4px; border-radius: 2px; background: %1; }"
               "QSlider::sub-page:horizontal { height: 4px; border-radius: 2px; background: %2; }"
               "QSlider::sub-page:horizontal:disabled { background: %1; }"
               "QSlider::handle:horizontal { width: 16px; height: 16px; margin: -6px 0;"
               " border-radius: 8px; background: white; border: 1px solid %3; }"
               "QSlider::handle:horizontal:focus { border: 2px solid %2; }")
        .arg(groove.name(QColor::HexArgb), accent.name(QColor::HexArgb),
             border.name(QColor::HexArgb));
}

}  // namespace

LabeledSlider::LabeledSlider(const QString& minimumLabel, const QString& maximumLabel,
                             QWidget* parent)
    : QWidget(parent), slider_(new QSlider(Qt::Horizontal, this)) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    layout->addWidget(new Text(minimumLabel, Theme::TextStyle::caption, Tone::primary, this));
    layout->addWidget(slider_, 1);
    layout->addWidget(new Text(maximumLabel, Theme::TextStyle::caption, Tone::primary, this));
    slider_->setStyleSheet(sliderStyle(palette()));
    slider_->setMinimumHeight(20);
    slider_->setTracking(true);
    slider_->setFocusPolicy(Qt::StrongFocus);
    connect(slider_, &QSlider::valueChanged, this, &LabeledSlider::moved);
}

void LabeledSlider::setSteps(int single, int page) {
    slider_->setSingleStep(single);
    slider_->setPageStep(page);
}

void LabeledSlider::setState(int minimum, int maximum, int position) {
    const QSignalBlocker block(slider_);
    slider_->setRange(minimum, maximum);
    slider_->setValue(position);
}
