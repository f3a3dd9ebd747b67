#pragma once

// A hairline across the stack that holds it.

#include <QWidget>

class Divider : public QWidget {
    Q_OBJECT

  public:
    explicit Divider(QWidget* parent = nullptr);
    QSize sizeHint() const override { return {1, 1}; }

  protected:
    void paintEvent(QPaintEvent* event) override;
};
