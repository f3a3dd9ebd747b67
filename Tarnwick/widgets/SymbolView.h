#pragma once

// A named symbol drawn in a fixed frame, sharp at any device pixel ratio.

#include <QColor>
#include <QString>
#include <QWidget>
#include <optional>

#include "Tarnwick/widgets/Text.h"

class SymbolView : public QWidget {
    Q_OBJECT

  public:
    // `frameWidth` 0 makes the frame as wide as the symbol.
    SymbolView(const QString& name, double pointSize, Tone tone, int frameWidth = 0,
               QWidget* parent = nullptr);

    void setName(const QString& name);
    const QString& name() const { return name_; }

    QSize sizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QString name_;
    double side_;
    Tone tone_;
    int frameWidth_;
};
