#pragma once

// A text that stays on one line and is cut off with an ellipsis when the width offered to it is
// too small; it takes only the room its text needs.

#include <QString>
#include <QWidget>

#include "Tarnwick/widgets/Text.h"

class ElidedText : public QWidget {
    Q_OBJECT

  public:
    explicit ElidedText(Theme::TextStyle style, Tone tone, QWidget* parent = nullptr);

    void setText(const QString& text);
    const QString& text() const { return text_; }
    // What is drawn at the current width.
    QString shownText() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QString text_;
    Tone tone_;
};
