#pragma once

// The window that holds the panel's content: a borderless pop-up under the tray icon, or, where
// no tray can show an icon, an ordinary top-level window that stays until the user closes it.

#include <QWidget>

class PopoverView;

class PanelWindow : public QWidget {
    Q_OBJECT

  public:
    // Takes `content` as its only child.
    explicit PanelWindow(PopoverView* content);

    PopoverView* content() const { return content_; }

    // Turns the pop-up into an ordinary decorated window titled "tarnwick" with the app icon.
    // Call while hidden; there is no way back.
    void becomeWindow();
    // Whether becomeWindow() has run.
    bool isWindow() const { return window_; }

  signals:
    // The window was hidden, by the shell or by Qt closing the pop-up on an outside click.
    void hidden();
    // The content's size may have changed.
    void contentResized();
    // The user closed the ordinary window (never emitted for the pop-up).
    void closedByUser();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    PopoverView* content_;
    bool rounded_;
    bool window_ = false;
};
