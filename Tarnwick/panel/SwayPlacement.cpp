#include "Tarnwick/panel/SwayPlacement.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalSocket>
#include <cstring>

namespace SwayPlacement {
namespace {

constexpr quint32 runCommand = 0;
constexpr quint32 getWorkspaces = 1;
constexpr quint32 getOutputs = 3;
constexpr int replyWaitMs = 300;
const QByteArray magic = QByteArrayLiteral("i3-ipc");

// One request and its reply's payload; absent when sway does not answer in time.
std::optional<QJsonDocument> ask(quint32 type, const QByteArray& payload = {}) {
    const QString path = qEnvironmentVariable("SWAYSOCK");
    if (path.isEmpty()) return std::nullopt;
    QLocalSocket socket;
    socket.connectToServer(path);
    if (!socket.waitForConnected(replyWaitMs)) return std::nullopt;
    // Lengths and types travel in the machine's own byte order.
    QByteArray request = magic;
    const quint32 header[2] = {static_cast<quint32>(payload.size()), type};
    request.append(reinterpret_cast<const char*>(header), sizeof header);
    request.append(payload);
    socket.write(request);
    if (!socket.waitForBytesWritten(replyWaitMs)) return std::nullopt;
    const qsizetype headerSize = magic.size() + static_cast<qsizetype>(sizeof header);
    QByteArray reply;
    auto readUntil = [&](qsizetype size) {
        while (reply.size() < size) {
            if (!socket.waitForReadyRead(replyWaitMs)) return false;
            reply.append(socket.readAll());
        }
        return true;
    };
    if (!readUntil(headerSize)) return std::nullopt;
    quint32 length = 0;
    std::memcpy(&length, reply.constData() + magic.size(), sizeof length);
    if (!readUntil(headerSize + static_cast<qsizetype>(length))) return std::nullopt;
    return QJsonDocument::fromJson(reply.mid(headerSize));
}

QRect rectOf(const QJsonObject& object) {
    const QJsonObject rect = object.value(QStringLiteral("rect")).toObject();
    return {rect.value(QStringLiteral("x")).toInt(), rect.value(QStringLiteral("y")).toInt(),
            rect.value(QStringLiteral("width")).toInt(),
            rect.value(QStringLiteral("height")).toInt()};
}

}  // namespace

bool available() { return !qEnvironmentVariableIsEmpty("SWAYSOCK"); }

std::optional<Areas> areas() {
    const std::optional<QJsonDocument> workspaces = ask(getWorkspaces);
    if (!workspaces) return std::nullopt;
    for (const QJsonValue& value : workspaces->array()) {
        const QJsonObject workspace = value.toObject();
        if (!workspace.value(QStringLiteral("focused")).toBool()) continue;
        const QString name = workspace.value(QStringLiteral("output")).toString();
        const std::optional<QJsonDocument> outputs = ask(getOutputs);
        if (!outputs) return std::nullopt;
        for (const QJsonValue& output : outputs->array()) {
            if (output.toObject().value(QStringLiteral("name")).toString() == name) {
                return Areas{rectOf(output.toObject()), rectOf(workspace)};
            }
        }
    }
    return std::nullopt;
}

bool move(const QString& title, QPoint at) {
    const QString command =
        QStringLiteral(
            "[pid=%1 title=\"^%2$\"] floating enable, border none, move absolute position %3 %4")
            .arg(QCoreApplication::applicationPid())
            .arg(title)
            .arg(at.x())
            .arg(at.y());
    const std::optional<QJsonDocument> reply = ask(runCommand, command.toUtf8());
    if (!reply || reply->array().isEmpty()) return false;
    return reply->array().first().toObject().value(QStringLiteral("success")).toBool();
}

}  // namespace SwayPlacement
