#include "Tarnwick/panel/views/HistoryChart.h"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>

#include "FanCore/Text/Rpm.h"
#include "FanCore/Text/Temperature.h"
#include "Tarnwick/model/Model.h"
#include "Tarnwick/widgets/Theme.h"

namespace {

constexpr int kCaptionGap = 4;
// Degrees the temperature axis spans at least, so that sensor noise stays a flat line.
constexpr double kMinTempSpan = 10.0;

bool hasContent(const std::vector<HistorySample>& samples) {
    return std::any_of(samples.begin(), samples.end(), [](const HistorySample& sample) {
        return sample.hottestValue() || sample.fanCount > 0;
    });
}

QColor heatColor(const QPalette& palette, std::optional<double> hottest) {
    switch (heatFor(hottest)) {
        case Heat::hot:
            return Theme::red(palette);
        case Heat::warm:
            return Theme::yellow(palette);
        case Heat::normal:
            break;
    }
    return Theme::primary(palette);
}

}  // namespace

std::vector<double> takeoverTimes(const std::vector<HistorySample>& samples) {
    std::vector<double> times;
    for (std::size_t i = 1; i < samples.size(); ++i) {
        if (samples[i].daemonDriving && !samples[i - 1].daemonDriving) {
            times.push_back(samples[i].time);
        }
    }
    return times;
}

QString historySpanText(const std::vector<HistorySample>& samples) {
    const double span =
        samples.empty() ? 0 : std::min(samples.back().time - samples.front().time, History::window);
    if (span < 60) return QStringLiteral("last %1 s").arg(static_cast<int>(span));
    return QStringLiteral("last %1 min").arg(static_cast<int>(span / 60));
}

HistoryChart::HistoryChart(const Model& model, QWidget* parent) : QWidget(parent), model_(model) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    const QFontMetrics metrics(Theme::font(Theme::TextStyle::caption));
    setFixedHeight(metrics.height() + kCaptionGap + plotHeight);
    connect(&model_, &Model::refreshed, this, &HistoryChart::sync);
    sync();
}

void HistoryChart::sync() {
    samples_ = model_.history().samples();
    setVisible(hasContent(samples_));
    update();
}

QString HistoryChart::caption() const {
    QString text = historySpanText(samples_);
    if (samples_.empty()) return text;
    const HistorySample& last = samples_.back();
    if (const auto hottest = last.hottestValue()) {
        text += QStringLiteral(" \u00b7 ") + QString::fromStdString(FanText::celsius(*hottest, 0));
    }
    if (const auto rpm = last.topRPM())
        text += QStringLiteral(" \u00b7 ") + QString::fromStdString(FanText::roundedRpm(*rpm));
    return text;
}

void HistoryChart::paintEvent(QPaintEvent*) {
    if (samples_.empty()) return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPalette& colors = palette();
    const QFont font = Theme::font(Theme::TextStyle::caption, true);
    const QFontMetrics metrics(font);
    painter.setFont(font);
    painter.setPen(Theme::secondary(colors));
    painter.drawText(QRect(0, 0, width(), metrics.height()), Qt::AlignLeft | Qt::AlignVCenter,
                     caption());

    const QRectF plot(0.5, metrics.height() + kCaptionGap + 0.5, width() - 1.0, plotHeight - 1.0);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Theme::faint(colors, 0.05));
    painter.drawRoundedRect(plot, 4, 4);

    const double start = samples_.front().time;
    const double span = std::max(samples_.back().time - start, 1.0);
    auto xAt = [&](double time) { return plot.left() + (time - start) / span * plot.width(); };

    // The fans as a filled band behind the line, on the fans' own scale.
    const double maxRPM = model_.maxRPM();
    if (maxRPM > 0 && std::any_of(samples_.begin(), samples_.end(),
                                  [](const HistorySample& s) { return s.fanCount > 0; })) {
        QPainterPath band(QPointF(xAt(start), plot.bottom()));
        for (const HistorySample& sample : samples_) {
            const double fraction = std::clamp(sample.topRPM().value_or(0) / maxRPM, 0.0, 1.0);
            band.lineTo(xAt(sample.time), plot.bottom() - fraction * plot.height());
        }
        band.lineTo(xAt(samples_.back().time), plot.bottom());
        band.closeSubpath();
        QColor fill = Theme::accent(colors);
        fill.setAlphaF(0.22F);
        painter.setBrush(fill);
        painter.drawPath(band);
    }

    // Where the daemon took over: a thin accent rule across the plot.
    QPen marker(Theme::accent(colors), 1.5, Qt::DashLine);
    painter.setPen(marker);
    for (const double time : takeoverTimes(samples_)) {
        const double x = xAt(time);
        painter.drawLine(QPointF(x, plot.top() + 2), QPointF(x, plot.bottom() - 2));
    }

    std::optional<double> low;
    std::optional<double> high;
    for (const HistorySample& sample : samples_) {
        if (const auto t = sample.hottestValue()) {
            low = std::min(low.value_or(*t), *t);
            high = std::max(high.value_or(*t), *t);
        }
    }
    if (!low) return;
    const double middle = (*low + *high) / 2;
    const double half = std::max(*high - *low, kMinTempSpan) / 2 * 1.15;
    auto yAt = [&](double t) {
        return plot.bottom() - (t - (middle - half)) / (2 * half) * plot.height();
    };
    // A gap in the readings breaks the line instead of bridging it.
    QPainterPath line;
    bool drawing = false;
    std::optional<QPointF> lastPoint;
    for (const HistorySample& sample : samples_) {
        const auto t = sample.hottestValue();
        if (!t) {
            drawing = false;
            continue;
        }
        const QPointF point(xAt(sample.time), yAt(*t));
        if (drawing) {
            line.lineTo(point);
        } else {
            line.moveTo(point);
        }
        drawing = true;
        lastPoint = point;
    }
    const QColor color = heatColor(colors, samples_.back().hottestValue());
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(color, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawPath(line);
    if (lastPoint) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(color);
        painter.drawEllipse(*lastPoint, 2.5, 2.5);
    }
}
