#pragma once

// One tray application per user and machine: the first one listens on a local socket, and a
// later start hands its request (open the panel) to it and ends.

#include <QLockFile>
#include <QObject>
#include <QString>
#include <memory>

class QLocalServer;

class SingleInstance : public QObject {
    Q_OBJECT

  public:
    // Claims the application's lock; works before QApplication exists. The key covers the
    // user's settings folder and the sandbox root, so separate sandboxes run side by side.
    SingleInstance();
    ~SingleInstance() override;

    // Whether this process is the one that runs the application.
    bool primary() const { return primary_; }

    // For a later start: asks the running application to open its panel and waits briefly for
    // it to confirm; false when none answered.
    bool handOver();

    // For the primary: starts listening (needs the event loop); requested() follows each
    // hand-over.
    void listen();

    // For the primary about to hand over to a new process of its own: stops listening and lets
    // go of the lock, so that the new one becomes the primary.
    void release();

    // The socket's path for the current user, settings folder and sandbox root.
    static QString socketPath();

  signals:
    // A later start asked for the panel.
    void requested();

  private:
    std::unique_ptr<QLockFile> lock_;
    QLocalServer* server_ = nullptr;
    bool primary_ = false;
};
