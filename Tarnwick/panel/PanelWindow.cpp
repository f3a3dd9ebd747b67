#include "Tarnwick/panel/PanelWindow.h"

#include <QCloseEvent>
#include <QPainter>
#include <QVBoxLayout>

#include "Tarnwick/AppIcon.h"
#include "Tarnwick/panel/PopoverView.h"
#include "Tarnwick/tray/TrayHost.h"
#include "Tarnwick/widgets/Theme.h"

namespace {
constexpr double cornerRadius = 16;
}

PanelWindow::PanelWindow(PopoverView* content)
    : QWidget(nullptr, Qt::Popup | Qt::FramelessWindowHint),
      content_(content),
      rounded_(TrayHost::compositing()) {
    setWindowTitle(QStringLiteral("tarnwick panel"));
    setObjectName(QStringLiteral("tarnwick-panel"));
    // Without a compositor a translucent window shows black corners, so the corners round only
    // where they can be see-through.
    if (rounded_) setAttribute(Qt::WA_TranslucentBackground);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(content_);
    connect(content_, &PopoverView::contentResized, this, &PanelWindow::contentResized);
}

void PanelWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF body = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    painter.setPen(QPen(Theme::faint(palette(), Theme::isDark(palette()) ? 0.25 : 0.18), 1));
    painter.setBrush(palette().color(QPalette::Window));
    if (rounded_) {
        if (testAttribute(Qt::WA_TranslucentBackground)) {
            painter.setCompositionMode(QPainter::CompositionMode_Source);
            painter.fillRect(rect(), Qt::transparent);
            painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
        }
        painter.drawRoundedRect(body, cornerRadius, cornerRadius);
    } else {
        painter.drawRect(body);
    }
}

void PanelWindow::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    emit hidden();
}

void PanelWindow::becomeWindow() {
    if (window_) return;
    window_ = true;
    // A decorated window has square corners; the see-through ones would show as black patches.
    rounded_ = false;
    setAttribute(Qt::WA_TranslucentBackground, false);
    setWindowFlags(Qt::Window);
    setWindowTitle(QStringLiteral("tarnwick"));
    setWindowIcon(AppIcon::icon());
}

void PanelWindow::closeEvent(QCloseEvent* event) {
    QWidget::closeEvent(event);
    if (window_ && event->isAccepted()) emit closedByUser();
}
