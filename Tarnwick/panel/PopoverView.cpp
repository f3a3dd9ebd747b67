#include "Tarnwick/panel/PopoverView.h"

#include <QApplication>
#include <QEvent>
#include <QScrollArea>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

#include "Tarnwick/model/Model.h"
#include "Tarnwick/panel/GlassVeil.h"
#include "Tarnwick/panel/views/BatterySection.h"
#include "Tarnwick/panel/views/ControlSection.h"
#include "Tarnwick/panel/views/FansSection.h"
#include "Tarnwick/panel/views/Footer.h"
#include "Tarnwick/panel/views/HistoryChart.h"
#include "Tarnwick/panel/views/MenuBarSection.h"
#include "Tarnwick/panel/views/TempsSection.h"
#include "Tarnwick/widgets/Divider.h"

PopoverView::PopoverView(Model& model, bool showMenuBarSettings, QWidget* parent)
    : QWidget(parent),
      model_(model),
      veil_(new GlassVeil(this)),
      fans_(new FansSection(model, this)),
      history_(new HistoryChart(model, this)),
      controls_(new ControlSection(model, this)),
      battery_(new BatterySection(model, this)),
      temps_(new TempsSection(model, this)),
      menuBar_(new MenuBarSection(model, showMenuBarSettings, this)),
      footer_(new Footer(model, this)),
      scroll_(new QScrollArea(this)),
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
    middle_->installEventFilter(this);
    scroll_->setWidgetResizable(true);
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
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

    // A control reached with the keyboard scrolls into view.
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) {
        if (now != nullptr && middle_->isAncestorOf(now)) scroll_->ensureWidgetVisible(now, 0, 8);
    });

    connect(&model_, &Model::changed, this, [this] { scheduleSync(false); });
    connect(&model_, &Model::fansChanged, this, [this](bool animated) { scheduleSync(animated); });
    sync();
}

bool PopoverView::expandMenuBarFrom(const QStringList& arguments) {
    return arguments.contains(QStringLiteral("--expand-menu-bar"));
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
    // The scrolling middle is measured at its natural height first, then given what is left.
    QLayout* inner = middle_->layout();
    inner->activate();
    const int middleHeight = inner->hasHeightForWidth() ? inner->totalHeightForWidth(panelWidth)
                                                        : inner->totalSizeHint().height();
    auto total = [this](int middle) {
        scroll_->setFixedHeight(middle);
        QLayout* box = layout();
        box->activate();
        return box->hasHeightForWidth() ? box->totalHeightForWidth(panelWidth)
                                        : box->totalSizeHint().height();
    };
    int height = total(middleHeight);
    if (height > maxHeight) {
        const int squeezed = std::max(minimumMiddleHeight, middleHeight - (height - maxHeight));
        height = total(std::min(squeezed, middleHeight));
    }
    return {panelWidth, height};
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

bool PopoverView::eventFilter(QObject* watched, QEvent* event) {
    // The scrolling middle changes its own size without the panel's layout seeing it.
    if (watched == middle_ && event->type() == QEvent::LayoutRequest) emit contentResized();
    return QWidget::eventFilter(watched, event);
}
