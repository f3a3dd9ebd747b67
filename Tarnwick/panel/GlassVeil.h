#pragma once

// The tint behind the panel content where the window has a glass background. Linux windows have
// none, so the veil draws nothing there.

#include <QColor>
#include <QWidget>

class GlassVeil : public QWidget {
    Q_OBJECT

  public:
    explicit GlassVeil(QWidget* parent = nullptr);

    // Whether the running system gives the panel a glass background to tint.
    static bool applies();
    // The tint for the current colour scheme: black at 25 % when dark, white at 45 % otherwise.
    static QColor tint(bool dark);

  protected:
    void paintEvent(QPaintEvent* event) override;
};
