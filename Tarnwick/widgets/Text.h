#pragma once

// A text in one of the panel's named styles and label colours. It either wraps at the width it
// is given or keeps its natural width.

#include <QLabel>
#include <QString>

#include "Tarnwick/widgets/Theme.h"

enum class Tone { primary, secondary, tertiary, red, yellow };

class Text : public QLabel {
    Q_OBJECT

  public:
    explicit Text(const QString& text = {}, Theme::TextStyle style = Theme::TextStyle::body,
                  Tone tone = Tone::primary, QWidget* parent = nullptr);

    void setTextStyle(Theme::TextStyle style, bool monospacedDigits = false);
    void setTone(Tone tone);
    Tone tone() const { return tone_; }

    // Lays the text out on as many lines as the offered width needs; never cut off.
    void setWraps(bool wraps);

  protected:
    void changeEvent(QEvent* event) override;

  private:
    void applyTone();

    Tone tone_;
};

// The colour of `tone` under `palette`.
QColor toneColor(Tone tone, const QPalette& palette);
