#pragma once

// A value with increment and decrement arrows, titled by the caller's format of the value.

#include <QString>
#include <QWidget>
#include <functional>

class Text;
class StepperArrows;

class Stepper : public QWidget {
    Q_OBJECT

  public:
    Stepper(double minimum, double maximum, double step, std::function<QString(double)> title,
            QWidget* parent = nullptr);

    double value() const { return value_; }
    double minimum() const { return minimum_; }
    double maximum() const { return maximum_; }
    double step() const { return step_; }
    // Shows `value` (also one outside the range, unchanged) without emitting valueChanged().
    void setValue(double value);

    // One click: the value moved by one step towards `up`, kept within the range. Emits
    // valueChanged() only when the value moved.
    void stepBy(bool up);

    QString title() const;
    bool canStepUp() const;
    bool canStepDown() const;

  signals:
    void valueChanged(double value);

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

  private:
    void refresh();

    double minimum_;
    double maximum_;
    double step_;
    double value_;
    std::function<QString(double)> titleFor_;
    Text* title_;
    StepperArrows* arrows_;
};
