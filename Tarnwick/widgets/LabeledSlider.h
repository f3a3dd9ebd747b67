#pragma once

// A horizontal slider with a caption at each end. Its positions are whole numbers; the owner
// maps them to its own values.

#include <QSlider>
#include <QWidget>

class Text;

class LabeledSlider : public QWidget {
    Q_OBJECT

  public:
    LabeledSlider(const QString& minimumLabel, const QString& maximumLabel,
                  QWidget* parent = nullptr);

    QSlider* slider() const { return slider_; }
    // Sets range and position without emitting moved().
    void setState(int minimum, int maximum, int position);
    // Positions moved by an arrow key and by Page Up/Down.
    void setSteps(int single, int page);

  signals:
    // The user (mouse, wheel or keys) moved the slider to `position`; every intermediate
    // position of a drag is reported.
    void moved(int position);

  private:
    QSlider* slider_;
};
