#include "Tarnwick/alerts/DesktopNotifier.h"

#include <utility>

#ifdef TARNWICK_HAVE_DBUS
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>
#endif

DesktopNotifier::DesktopNotifier(Fallback fallback, QObject* parent)
    : QObject(parent), fallback_(std::move(fallback)) {}

void DesktopNotifier::show(const Alert& alert) {
#ifdef TARNWICK_HAVE_DBUS
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected()) {
        QDBusMessage call = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.Notifications"),
            QStringLiteral("/org/freedesktop/Notifications"),
            QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
        // Urgency 2 (critical) stays on screen until seen; recoveries are normal (1).
        const uchar urgency = alert.kind == AlertKind::chipNormal ? 1 : 2;
        QVariantMap hints;
        hints.insert(QStringLiteral("urgency"), QVariant::fromValue(urgency));
        hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("tarnwick"));
        call << QStringLiteral("tarnwick") << 0U << QStringLiteral("tarnwick") << alert.title
             << alert.body << QStringList() << hints << -1;
        // Asynchronous: a notification service that is slow to start must not stall the poll.
        auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 5000), this);
        connect(watcher, &QDBusPendingCallWatcher::finished, this,
                [this, alert](QDBusPendingCallWatcher* finished) {
                    if (finished->isError() && fallback_) fallback_(alert);
                    finished->deleteLater();
                });
        return;
    }
#endif
    if (fallback_) fallback_(alert);
}
