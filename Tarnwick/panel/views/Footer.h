#pragma once

// The panel's last row: launch at login and the gear menu with the application's commands.

#include <QList>
#include <QStringList>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <optional>

class Model;
class QCheckBox;
class QMenu;
class QToolButton;
class Text;

class Footer : public QWidget {
    Q_OBJECT

  public:
    explicit Footer(Model& model, QWidget* parent = nullptr);

    // How long "copied" stays beside the gear after the diagnostics were copied.
    static constexpr int copiedShownMs = 3000;

    // Re-reads the check box; the menu is built afresh each time it opens.
    void sync();

    QCheckBox* launchAtLogin() const { return launchAtLogin_; }
    QToolButton* gearButton() const { return gear_; }
    QMenu* menu() const { return menu_; }
    // The menu's entries top to bottom as they would open now, a divider as "-".
    QStringList menuItems();
    // Chooses the entry titled `text`; false when there is none or it is disabled.
    bool trigger(const QString& text);
    // Shown for a while after "copy diagnostics".
    Text* copiedText() const { return copied_; }

    // Clears the clipboard, then puts the diagnostics report of the model's sensors on it, as
    // "tarnwick --diagnostics" prints it.
    static void copyDiagnostics(const Model& model);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // One menu entry; an empty text is a divider, a `checked` one shows a check mark.
    struct Entry {
        QString text;
        bool enabled = true;
        std::function<void()> run;
        std::optional<bool> checked;
    };
    QList<Entry> entries();
    void rebuildMenu();

    Model& model_;
    QCheckBox* launchAtLogin_;
    QToolButton* gear_;
    QMenu* menu_;
    Text* copied_;
    QTimer copiedTimer_;
};
