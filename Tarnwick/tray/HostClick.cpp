#include "Tarnwick/tray/HostClick.h"

#include <QString>
#include <mutex>

#ifdef TARNWICK_HAVE_DBUS
#include <QDBusMessage>

// Exported by QtDBus for exactly this: a hook that sees every incoming call before the object
// it is for, on the application's thread.
extern Q_DBUS_EXPORT void qDBusAddSpyHook(void (*)(const QDBusMessage&));
#endif

namespace HostClick {
namespace {

std::mutex lock;
std::optional<QPoint> latest;

#ifdef TARNWICK_HAVE_DBUS
void spy(const QDBusMessage& message) {
    if (message.type() != QDBusMessage::MethodCallMessage ||
        message.interface() != QLatin1String("org.kde.StatusNotifierItem")) {
        return;
    }
    const QList<QVariant> arguments = message.arguments();
    if (arguments.size() != 2) return;
    record(message.member(), QPoint(arguments[0].toInt(), arguments[1].toInt()));
}
#endif

}  // namespace

void watch() {
#ifdef TARNWICK_HAVE_DBUS
    static std::once_flag once;
    std::call_once(once, [] { qDBusAddSpyHook(&spy); });
#endif
}

void record(const QString& member, QPoint point) {
    if (member != QLatin1String("Activate") && member != QLatin1String("SecondaryActivate") &&
        member != QLatin1String("ContextMenu")) {
        return;
    }
    const std::lock_guard guard(lock);
    latest = point;
}

std::optional<QPoint> last() {
    const std::lock_guard guard(lock);
    return latest;
}

std::optional<QPoint> nearPointer(std::optional<QPoint> pointer, int reach) {
    const std::optional<QPoint> point = last();
    if (!point || !pointer) return std::nullopt;
    if ((*point - *pointer).manhattanLength() > reach) return std::nullopt;
    return point;
}

}  // namespace HostClick
