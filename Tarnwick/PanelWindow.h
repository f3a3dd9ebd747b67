#pragma once

// The borderless pop-up window that holds the panel's content.

#include <QWidget>

class PopoverView;

class PanelWindow : public QWidget {
    Q_OBJECT

  public:
    // Takes `content` as its only child.
    explicit PanelWindow(PopoverView* content);

    PopoverView* content() const { return content_; }

  signals:
    // The window was hidden, by the shell or by Qt closing the pop-up on an outside click.
    void hidden();
    // The content's size may have changed.
    void contentResized();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    PopoverView* content_;
    bool rounded_;
};
