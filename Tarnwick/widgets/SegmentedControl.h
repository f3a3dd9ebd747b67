#pragma once

// A row of mutually exclusive segments, kept at its natural size.

#include <QStringList>
#include <QWidget>

class SegmentedControl : public QWidget {
    Q_OBJECT

  public:
    explicit SegmentedControl(const QStringList& labels, QWidget* parent = nullptr);

    int count() const { return static_cast<int>(labels_.size()); }
    const QStringList& labels() const { return labels_; }
    int selected() const { return selected_; }
    // Shows `index` as chosen without emitting activated(); out-of-range indexes show none.
    void setSelected(int index);
    // As a click on segment `index`: shows it as chosen and emits activated().
    void choose(int index);

    // The rectangle of segment `index`, in this widget's coordinates.
    QRect segmentRect(int index) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

  signals:
    // The user chose segment `index` (also when it was chosen already).
    void activated(int index);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    int segmentWidth() const;

    QStringList labels_;
    int selected_ = -1;
};
