#pragma once

// The cooling controls: automatic mode with a boost strength, or a fixed speed.

#include <QString>
#include <QWidget>
#include <optional>

class Model;
class LabeledSlider;
class SegmentedControl;
class Text;

// The positions of the fixed-speed slider: `minimum` plus k * 100 rpm for k = 0..steps, never
// past `maximum`. Absent when the range is empty or not finite (fans whose ranges do not overlap).
struct SpeedSteps {
    double minimum = 0;
    int steps = 0;

    static std::optional<SpeedSteps> between(double minimum, double maximum);
    double speedAt(int step) const { return minimum + 100.0 * step; }
    // The step nearest to `rpm` (an out-of-range or NaN value shows at the nearest end).
    int stepFor(double rpm) const;
};

class ControlSection : public QWidget {
    Q_OBJECT

  public:
    // Positions of the strength slider across 0..1.
    static constexpr int strengthPositions = 1000;

    explicit ControlSection(Model& model, QWidget* parent = nullptr);

    void sync();

    SegmentedControl* picker() const { return picker_; }
    QWidget* autoControl() const { return auto_; }
    QWidget* manualControl() const { return manual_; }
    LabeledSlider* strengthSlider() const { return strength_; }
    LabeledSlider* speedSlider() const { return speed_; }
    Text* boostLabel() const { return boostLabel_; }
    Text* boostDetail() const { return boostDetail_; }
    Text* speedText() const { return speedText_; }

    // Says the settings wait for fan control while no daemon acts on them; hidden otherwise.
    Text* note() const { return note_; }

  private:
    Model& model_;
    SegmentedControl* picker_;
    QWidget* auto_;
    QWidget* manual_;
    LabeledSlider* strength_;
    LabeledSlider* speed_;
    Text* boostLabel_;
    Text* boostDetail_;
    Text* speedText_;
    Text* note_;
    std::optional<SpeedSteps> steps_;
};
