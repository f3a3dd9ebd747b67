#include "Tarnwick/panel/PopoverView.h"

#include <QApplication>
#include <QEvent>
#include <QKeyEvent>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <algorithm>

#include "Tarnwick/model/Model.h"
#include "Tarnwick/panel/GlassVeil.h"
#include "Tarnwick/panel/PanelAccessibility.h"
#include "Tarnwick/panel/views/BatterySection.h"
#include "Tarnwick/panel/views/ControlSection.h"
#include "Tarnwick/panel/views/FansSection.h"
#include "Tarnwick/panel/views/Footer.h"
#include "Tarnwick/panel/views/HistoryChart.h"
#include "Tarnwick/panel/views/MenuBarSection.h"
#include "Tarnwick/panel/views/TempsSection.h"
#include "Tarnwick/widgets/Divider.h"
#include "Tarnwick/widgets/FittingScrollArea.h"

PopoverView::PopoverView(Model& model, bool showMenuBarSettings, QWidget* parent)
    : QWidget(parent),
      accessible_((PanelAccessibility::install(), true)),
      model_(model),
      veil_(new GlassVeil(this)),
      fans_(new FansSection(model, this)),
      history_(new HistoryChart(model, this)),
      controls_(new ControlSection(model, this)),
      battery_(new BatterySection(model, this)),
      temps_(new TempsSection(model, this)),
      menuBar_(new MenuBarSection(model, showMenuBarSettings, this)),
      footer_(new Footer(model, this)),
      scroll_(new FittingScrollArea(panelWidth, minimumMiddleHeight, this)),
      middle_(new QWidget) {
    setFixedWidth(panelWidth);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, padding, 0, padding);
    layout->setSpacing(spacing);
    auto divider = [this](QVBoxLayout* into) {
        auto* line = new Divider(this);
        dividers_ << line;
        into->addWidget(line);
        return line;
    };
    // The fans and the footer stay in view; the sections between them scroll when the panel is
    // taller than the screen allows.
    auto* fansBox = new QVBoxLayout;
    fansBox->setContentsMargins(padding, 0, padding, 0);
    fansBox->setSpacing(spacing);
    fansBox->addWidget(fans_);
    layout->addLayout(fansBox);

    middle_->setAutoFillBackground(false);
    auto* middle = new QVBoxLayout(middle_);
    middle->setContentsMargins(padding, 0, padding, 0);
    middle->setSpacing(spacing);
    // The chart sits under the fans but scrolls with the rest, so a small screen keeps the fans.
    middle->addWidget(history_);
    divider(middle);
    middle->addWidget(controls_);
    batteryDivider_ = divider(middle);
    middle->addWidget(battery_);
    controlsDivider_ = divider(middle);
    middle->addWidget(temps_);
    divider(middle);
    middle->addWidget(menuBar_);
    scroll_->setWidget(middle_);
    scroll_->guardSliders();
    scroll_->viewport()->setAutoFillBackground(false);
    scroll_->setStyleSheet(QStringLiteral(
        "QScrollArea { background: transparent; }"
        "QScrollBar:vertical { width: 6px; background: transparent; margin: 0; }"
        "QScrollBar::handle:vertical { background: rgba(128, 128, 128, 110); border-radius: 3px;"
        " min-height: 24px; }"
        "QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0; }"
        "QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical { background: none; }"));
    layout->addWidget(scroll_);

    auto* footerBox = new QVBoxLayout;
    footerBox->setContentsMargins(padding, 0, padding, 0);
    footerBox->setSpacing(spacing);
    divider(footerBox);
    footerBox->addWidget(footer_);
    layout->addLayout(footerBox);
    veil_->lower();

    // Only the middle gives way when the panel is capped; the fans and the footer keep their
    // height.
    for (QWidget* kept : {static_cast<QWidget*>(fans_), static_cast<QWidget*>(footer_)}) {
        kept->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    }
    orderTabChain();

    connect(&model_, &Model::changed, this, [this] { scheduleSync(false); });
    connect(&model_, &Model::fansChanged, this, [this](bool animated) { scheduleSync(animated); });
    sync();
}

void PopoverView::scheduleSync(bool animated) {
    animatePending_ = animatePending_ || animated;
    if (syncPending_) return;
    syncPending_ = true;
    // A refresh assigns many properties in a row; one re-read after them is enough.
    QTimer::singleShot(0, this, [this] {
        if (syncPending_) sync();
    });
}

void PopoverView::sync() {
    const bool animated = animatePending_;
    syncPending_ = false;
    animatePending_ = false;

    const bool hasFans = !model_.fans().empty();
    const bool showBattery = hasFans && model_.hasBattery();
    controls_->setVisible(hasFans);
    batteryDivider_->setVisible(showBattery);
    battery_->setVisible(showBattery);
    controlsDivider_->setVisible(hasFans);

    fans_->sync(animated);
    history_->sync();
    controls_->sync();
    battery_->sync();
    temps_->sync();
    menuBar_->sync();
    footer_->sync();
}

QSize PopoverView::fittingSize(int maxHeight) {
    if (syncPending_) sync();
    // Read from the layouts' size hints only: measuring must not resize anything, or the resize
    // would report a change of content and the panel would be measured again, for ever.
    QLayout* box = layout();
    const int natural = box->hasHeightForWidth() ? box->totalHeightForWidth(panelWidth)
                                                 : box->totalSizeHint().height();
    if (natural <= maxHeight) return {panelWidth, natural};
    const int middle = scroll_->sizeHint().height();
    const int squeezed =
        std::max(std::min(minimumMiddleHeight, middle), middle - (natural - maxHeight));
    return {panelWidth, natural - middle + squeezed};
}

void PopoverView::orderTabChain() {
    // The footer is built before the middle moves into its scroll area, which would put it
    // before the middle's controls; the chain follows the panel from top to bottom instead.
    QList<QWidget*> chain;
    for (QWidget* part : {static_cast<QWidget*>(fans_), middle_, static_cast<QWidget*>(footer_)}) {
        for (QWidget* w = nextInFocusChain(); w != this; w = w->nextInFocusChain()) {
            if ((w->focusPolicy() & Qt::TabFocus) != 0 && part->isAncestorOf(w)) chain << w;
        }
    }
    for (qsizetype i = 1; i < chain.size(); ++i) setTabOrder(chain[i - 1], chain[i]);
}

void PopoverView::keyPressEvent(QKeyEvent* event) {
    // Keys no control took: the page keys scroll the middle.
    if (event->key() == Qt::Key_PageDown || event->key() == Qt::Key_PageUp) {
        scroll_->scrollPages(event->key() == Qt::Key_PageDown ? 1 : -1);
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

void PopoverView::wheelEvent(QWheelEvent* event) {
    // A wheel over the fans or the footer, which stay put, scrolls the middle.
    QApplication::sendEvent(scroll_->verticalScrollBar(), event);
}

void PopoverView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    veil_->setGeometry(rect());
}

bool PopoverView::event(QEvent* event) {
    const bool handled = QWidget::event(event);
    if (event->type() == QEvent::LayoutRequest) emit contentResized();
    return handled;
}
