#pragma once

// A switch-style toggle: its label at the leading edge, the switch at the trailing edge.

#include <QAbstractButton>

class Switch : public QAbstractButton {
    Q_OBJECT

  public:
    explicit Switch(const QString& label, QWidget* parent = nullptr);

    QSize sizeHint() const override;

    // The switch's own rectangle (the label fills the rest).
    QRect knobTrackRect() const;

  protected:
    void paintEvent(QPaintEvent* event) override;
    bool hitButton(const QPoint& pos) const override;
};
