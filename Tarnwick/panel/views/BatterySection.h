#pragma once

// Battery cooling: the switch, the target temperature and the charger condition.

#include <QWidget>

class Model;
class QCheckBox;
class Stepper;
class Switch;

class BatterySection : public QWidget {
    Q_OBJECT

  public:
    static constexpr double lowestTarget = 28;
    static constexpr double highestTarget = 40;

    explicit BatterySection(Model& model, QWidget* parent = nullptr);

    void sync();

    Switch* coolingSwitch() const { return cooling_; }
    Stepper* targetStepper() const { return target_; }
    QCheckBox* chargerCheckBox() const { return charger_; }

  private:
    Model& model_;
    Switch* cooling_;
    QWidget* targetRow_;
    Stepper* target_;
    QCheckBox* charger_;
};
