#pragma once

// Shows alerts through the desktop's notification service (the freedesktop notifications
// interface on the session bus), or through a fallback such as the tray icon's message where no
// such service answers.

#include <QObject>
#include <QString>
#include <functional>

#include "Tarnwick/alerts/AlertMonitor.h"

class DesktopNotifier : public QObject {
    Q_OBJECT

  public:
    using Fallback = std::function<void(const Alert& alert)>;

    explicit DesktopNotifier(Fallback fallback, QObject* parent = nullptr);

    // Sends `alert` without blocking; the fallback shows it when the bus or the service fails.
    void show(const Alert& alert);

  private:
    Fallback fallback_;
};
