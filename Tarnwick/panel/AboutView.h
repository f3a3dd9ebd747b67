#pragma once

// What the about window shows: the icon, the name, the version and three credit lines.

#include <QString>
#include <QWidget>

class AboutView : public QWidget {
    Q_OBJECT

  public:
    explicit AboutView(QWidget* parent = nullptr);

    // The application's version, or "?" when it has none.
    static QString version();

    QSize sizeHint() const override;
};
