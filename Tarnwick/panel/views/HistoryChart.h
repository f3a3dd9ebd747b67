#pragma once

// The panel's picture of the last minutes under the fans: the hottest chip temperature as a line
// over the fastest fan's speed, the current values, and a marker wherever the daemon took over.

#include <QString>
#include <QWidget>
#include <vector>

#include "Tarnwick/model/History.h"

class Model;

// The times (seconds) at which the daemon started driving: samples that drive after one that
// did not.
std::vector<double> takeoverTimes(const std::vector<HistorySample>& samples);

// The span of the samples in words: "last 40 s", "last 3 min" (whole minutes, rounded down),
// "last 15 min" at most.
QString historySpanText(const std::vector<HistorySample>& samples);

class HistoryChart : public QWidget {
    Q_OBJECT

  public:
    static constexpr int plotHeight = 44;

    explicit HistoryChart(const Model& model, QWidget* parent = nullptr);

    // Re-reads the model's history; hidden while it holds neither a temperature nor a fan.
    void sync();

    // The line above the plot: the span, then the current temperature and speed.
    QString caption() const;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    const Model& model_;
    std::vector<HistorySample> samples_;
};
