#include "Tarnwick/tray/TrayHost.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QPointer>
#include <memory>

#ifdef TARNWICK_HAVE_DBUS
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#endif

#ifdef TARNWICK_HAVE_XCB
#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#endif

namespace TrayHost {
namespace {

#ifdef TARNWICK_HAVE_XCB
// The owner of `selection` on the application's X display, or 0.
bool selectionOwned(const QByteArray& selection) {
    auto* x11 = qGuiApp != nullptr ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>()
                                   : nullptr;
    if (x11 == nullptr || x11->connection() == nullptr) return false;
    xcb_connection_t* connection = x11->connection();
    const xcb_intern_atom_cookie_t atomCookie =
        xcb_intern_atom(connection, 0, static_cast<uint16_t>(selection.size()), selection.data());
    xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(connection, atomCookie, nullptr);
    if (atom == nullptr) return false;
    const xcb_get_selection_owner_cookie_t ownerCookie =
        xcb_get_selection_owner(connection, atom->atom);
    std::free(atom);
    xcb_get_selection_owner_reply_t* owner =
        xcb_get_selection_owner_reply(connection, ownerCookie, nullptr);
    if (owner == nullptr) return false;
    const bool owned = owner->owner != XCB_NONE;
    std::free(owner);
    return owned;
}

QByteArray perScreen(const char* prefix) {
    // Qt talks to the default screen of the display.
    int screen = 0;
    if (const char* display = std::getenv("DISPLAY")) {
        if (const char* dot = std::strrchr(display, '.')) screen = std::atoi(dot + 1);
    }
    return QByteArray(prefix) + QByteArray::number(screen);
}
#endif

#ifdef TARNWICK_HAVE_DBUS
bool statusNotifierHost() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || bus.interface() == nullptr) return false;
    const QString watcher = QStringLiteral("org.kde.StatusNotifierWatcher");
    if (!bus.interface()->isServiceRegistered(watcher)) return false;
    QDBusMessage get = QDBusMessage::createMethodCall(
        watcher, QStringLiteral("/StatusNotifierWatcher"),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << watcher << QStringLiteral("IsStatusNotifierHostRegistered");
    // A watcher that does not answer promptly counts as no host; the caller asks again later.
    const QDBusMessage reply = bus.call(get, QDBus::Block, 500);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return false;
    return reply.arguments().constFirst().value<QDBusVariant>().variant().toBool();
}
#endif

}  // namespace

Hosts hosts() {
    Hosts found;
#ifdef TARNWICK_HAVE_XCB
    found.xembed = selectionOwned(perScreen("_NET_SYSTEM_TRAY_S"));
#endif
#ifdef TARNWICK_HAVE_DBUS
    found.statusNotifier = statusNotifierHost();
#endif
    return found;
}

bool present() { return hosts().any(); }

bool compositing() {
#ifdef TARNWICK_HAVE_XCB
    return selectionOwned(perScreen("_NET_WM_CM_S"));
#else
    return false;
#endif
}

void whenPresent(QObject* context, std::chrono::milliseconds limit,
                 std::chrono::milliseconds interval, std::function<void(bool found)> ready) {
    if (present()) {
        ready(true);
        return;
    }
    auto* timer = new QTimer(context);
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    timer->setInterval(interval);
    QObject::connect(timer, &QTimer::timeout, context, [timer, clock, limit, ready] {
        const bool found = present();
        if (!found && clock->elapsed() < limit.count()) return;
        timer->stop();
        timer->deleteLater();
        ready(found);
    });
    timer->start();
}

}  // namespace TrayHost
