#include "Tarnwick/panel/AboutWindow.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPointer>
#include <QScreen>
#include <QVBoxLayout>

#include "Tarnwick/panel/AboutView.h"

namespace AboutWindow {
namespace {

QPointer<QWidget>& stored() {
    static QPointer<QWidget> window;
    return window;
}

// Closes the window it watches when Escape reaches it (from any of its widgets that leaves the key
// unused).
class EscapeCloses : public QObject {
  public:
    using QObject::QObject;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::KeyPress &&
            static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
            static_cast<QWidget*>(watched)->close();
            return true;
        }
        return QObject::eventFilter(watched, event);
    }
};

// Runs while the application object is torn down, before its windows go.
void destroyWindow() { delete stored().data(); }

QWidget* create() {
    // Title and close button only: the window neither minimises nor resizes.
    auto* window = new QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                            Qt::WindowCloseButtonHint);
    window->setWindowTitle(QStringLiteral("about tarnwick"));
    window->setAttribute(Qt::WA_DeleteOnClose, false);
    window->setAttribute(Qt::WA_QuitOnClose, false);
    auto* layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    layout->addWidget(new AboutView(window));
    window->adjustSize();
    // Equal least and greatest sizes tell the window manager that there is nothing to maximise.
    window->setFixedSize(window->sizeHint());
    window->installEventFilter(new EscapeCloses(window));
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame = window->frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        window->move(frame.topLeft());
    }
    qAddPostRoutine(destroyWindow);
    return window;
}

}  // namespace

QWidget* window() { return stored().data(); }

void show() {
    if (stored().isNull()) stored() = create();
    QWidget* window = stored().data();
    window->show();
    window->raise();
    window->activateWindow();
}

}  // namespace AboutWindow
