#pragma once

// One temperature of the panel: symbol, name and value, coloured by its own limits.

#include <QString>
#include <QWidget>
#include <optional>

#include "FanCore/Policy/Records.h"
#include "Tarnwick/widgets/Text.h"

class SymbolView;

struct Limits {
    double warm;  // °C from which the value shows yellow
    double hot;   // °C from which the value shows red

    // Red from `hot`, yellow from `warm` (both inclusive), primary below and for NaN.
    Tone toneFor(double value) const;
};

// "battery", then " <percent> %" when known, then " · charging" or, on mains, " · not charging".
QString batteryName(const PowerState& power);

// "%.1f °C".
QString temperatureText(double value);

class TempRow : public QWidget {
    Q_OBJECT

  public:
    TempRow(const QString& icon, const QString& name, Limits limits, QWidget* parent = nullptr);

    // Shows `value` coloured by the limits; an absent value hides the row entirely.
    void set(const QString& icon, const QString& name, std::optional<double> value);

    const QString& icon() const;
    QString name() const;
    QString valueText() const;
    Tone valueTone() const;

  private:
    Limits limits_;
    SymbolView* icon_;
    Text* name_;
    Text* value_;
};
