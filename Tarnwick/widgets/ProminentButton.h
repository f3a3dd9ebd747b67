#pragma once

// A filled, bordered button in the accent colour, for the one action a section wants taken.

#include <QPushButton>

class ProminentButton : public QPushButton {
    Q_OBJECT

  public:
    explicit ProminentButton(const QString& text, QWidget* parent = nullptr);

    // Changes the text and fits the button to it.
    void setTitle(const QString& text);

  protected:
    void paintEvent(QPaintEvent* event) override;
};
