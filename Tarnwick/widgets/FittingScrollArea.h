#pragma once

// A vertical scroll area that asks its layout for the whole height of its content, so that a
// window sized to its layout shows everything when it can, and squeezes only this area, down to a
// least height, when the screen is too small. It never takes the keyboard focus itself: the
// controls inside do, and come into view when they get it.

#include <QScrollArea>

class FittingScrollArea : public QScrollArea {
    Q_OBJECT

  public:
    // `contentWidth`: the width the content is measured at (the area's fixed width);
    // `minimumHeight`: the least height the area is squeezed to, in pixels.
    FittingScrollArea(int contentWidth, int minimumHeight, QWidget* parent = nullptr);

    // The content's whole height at contentWidth; what the area needs to show it unscrolled.
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    // Lets the sliders inside the content pass the wheel on to the area until they have the
    // focus, so that scrolling past one never changes a setting. Call once the content is built.
    void guardSliders();

    // Moves by `pages` viewport heights (negative: up); false when it was already at that end.
    bool scrollPages(int pages);

    // Scrolls `child` (inside the content) into view, or its top where it is taller than the
    // view.
    void bringIntoView(QWidget* child);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    bool focusNextPrevChild(bool next) override;

  private:
    int contentWidth_;
    int minimumHeight_;
};
