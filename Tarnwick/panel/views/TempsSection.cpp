#include "Tarnwick/panel/views/TempsSection.h"

#include <QPainter>
#include <QVBoxLayout>
#include <algorithm>

#include "Tarnwick/model/Model.h"
#include "Tarnwick/panel/views/TempRow.h"

namespace {
constexpr Limits chipLimits{80, 95};
constexpr Limits batteryLimits{35, 40};
constexpr Limits ssdLimits{60, 70};
constexpr Limits ambientLimits{55, 65};
}  // namespace

TempsSection::TempsSection(Model& model, QWidget* parent)
    : QWidget(parent),
      model_(model),
      header_(new Text(QStringLiteral("Temperatures"), Theme::TextStyle::headline, Tone::primary,
                       this)) {
    setFocusPolicy(Qt::TabFocus);
    setAccessibleName(header_->text());
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(5);
    layout->addWidget(header_);
    const std::array<Limits, 7> limits{chipLimits,    chipLimits,    batteryLimits, ssdLimits,
                                       ambientLimits, ambientLimits, ambientLimits};
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        rows_[i] = new TempRow({}, {}, limits[i], this);
        layout->addWidget(rows_[i]);
    }
    sync();
}

void TempsSection::sync() {
    const Readings& r = model_.readings();
    const PowerState& power = model_.power();
    rows_[0]->set(QStringLiteral("cpu"), QStringLiteral("CPU"), r.cpu);
    rows_[1]->set(QStringLiteral("square.stack.3d.up"), QStringLiteral("GPU"), r.gpu);
    rows_[2]->set(power.charging ? QStringLiteral("battery.100percent.bolt")
                                 : QStringLiteral("battery.75percent"),
                  batteryName(power), r.battery);
    rows_[3]->set(QStringLiteral("internaldrive"), QStringLiteral("SSD"), r.ssd);
    rows_[4]->set(QStringLiteral("wifi"), QStringLiteral("Wi\u2011Fi"), r.wifi);
    rows_[5]->set(QStringLiteral("wind"), QStringLiteral("internal air"), r.airflow);
    rows_[6]->set(QStringLiteral("hand.raised"), QStringLiteral("palm rest"), r.palmRest);
}

void TempsSection::paintEvent(QPaintEvent*) {
    if (!hasFocus()) return;
    // The header is flush with the panel's other headers, so the focus shows as an accent line
    // under its text rather than a ring that would crowd it.
    QPainter painter(this);
    const QRect header = header_->geometry();
    const int width = header_->fontMetrics().horizontalAdvance(header_->text());
    // Under the header, or at its foot where no row follows.
    const int y = std::min(header.bottom() + 1, height() - 2);
    painter.fillRect(QRect(header.left(), y, width, 2), Theme::accent(palette()));
}

void TempsSection::focusInEvent(QFocusEvent* event) {
    QWidget::focusInEvent(event);
    update();
}

void TempsSection::focusOutEvent(QFocusEvent* event) {
    QWidget::focusOutEvent(event);
    update();
}
