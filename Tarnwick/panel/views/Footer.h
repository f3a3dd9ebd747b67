#pragma once

// The panel's last row: launch at login and the gear menu with the application's commands.

#include <QStringList>
#include <QWidget>
#include <functional>

class Model;
class QCheckBox;
class QMenu;
class QToolButton;

class Footer : public QWidget {
    Q_OBJECT

  public:
    explicit Footer(Model& model, QWidget* parent = nullptr);

    void sync();

    QCheckBox* launchAtLogin() const { return launchAtLogin_; }
    QToolButton* gearButton() const { return gear_; }
    QMenu* menu() const { return menu_; }
    // The menu's entries top to bottom, a divider as "-".
    QStringList menuItems() const;
    // Chooses the entry titled `text`; false when there is none.
    bool trigger(const QString& text);

    // Clears the clipboard, then puts the diagnostics report of the model's sensors on it.
    static void copyDiagnostics(const Model& model);

  private:
    void rebuildMenu();
    // One checkable entry per desktop alert, following the model's alert settings.
    void addAlertToggles();

    Model& model_;
    QCheckBox* launchAtLogin_;
    QToolButton* gear_;
    QMenu* menu_;
};
