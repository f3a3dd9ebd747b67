#include "Tarnwick/SingleInstance.h"

#include <unistd.h>

#include <QCryptographicHash>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>

#include "CSMC/sandbox_root.h"

namespace {

const QByteArray request = QByteArrayLiteral("show-panel\n");
const QByteArray reply = QByteArrayLiteral("ok\n");
constexpr int waitMs = 2000;

}  // namespace

QString SingleInstance::socketPath() {
    QString folder = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (folder.isEmpty() || !QDir(folder).exists()) folder = QDir::tempPath();
    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    const QByteArray key = QCryptographicHash::hash(
        (config + QLatin1Char('\n') + QString::fromStdString(SandboxRoot::root().string()))
            .toUtf8(),
        QCryptographicHash::Sha1);
    return QStringLiteral("%1/tarnwick-%2-%3")
        .arg(folder)
        .arg(::getuid())
        .arg(QString::fromLatin1(key.toHex().left(16)));
}

SingleInstance::SingleInstance()
    : lock_(std::make_unique<QLockFile>(socketPath() + QStringLiteral(".lock"))) {
    // The lock outlives a crash only until the next start sees that its process is gone.
    lock_->setStaleLockTime(0);
    primary_ = lock_->tryLock(0);
}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::handOver() {
    QLocalSocket socket;
    // The running one may still be starting up: it listens only once its event loop runs.
    for (int tries = 0; tries < 20; ++tries) {
        socket.connectToServer(socketPath());
        if (socket.waitForConnected(waitMs / 20)) break;
        ::usleep(100 * 1000);
    }
    if (socket.state() != QLocalSocket::ConnectedState) return false;
    socket.write(request);
    if (!socket.waitForBytesWritten(waitMs)) return false;
    QByteArray answer;
    while (answer.size() < reply.size() && socket.waitForReadyRead(waitMs)) {
        answer.append(socket.readAll());
    }
    return answer == reply;
}

void SingleInstance::listen() {
    if (!primary_ || server_ != nullptr) return;
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    // Holding the lock, any socket file left is a dead instance's.
    QLocalServer::removeServer(socketPath());
    if (!server_->listen(socketPath())) return;
    connect(server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = server_->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
                if (!socket->canReadLine()) return;
                if (socket->readLine() == request) {
                    socket->write(reply);
                    emit requested();
                }
                socket->disconnectFromServer();
            });
        }
    });
}

void SingleInstance::release() {
    delete server_;
    server_ = nullptr;
    if (primary_) lock_->unlock();
    primary_ = false;
}
