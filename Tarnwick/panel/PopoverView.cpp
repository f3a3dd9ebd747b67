#include "Tarnwick/panel/PopoverView.h"

#include <QEvent>
#include <QTimer>
#include <QVBoxLayout>

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
      footer_(new Footer(model, this)) {
    setFixedWidth(panelWidth);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(padding, padding, padding, padding);
    layout->setSpacing(spacing);
    auto divider = [this, layout] {
        auto* line = new Divider(this);
        dividers_ << line;
        layout->addWidget(line);
        return line;
    };
    layout->addWidget(fans_);
    layout->addWidget(history_);
    divider();
    layout->addWidget(controls_);
    batteryDivider_ = divider();
    layout->addWidget(battery_);
    controlsDivider_ = divider();
    layout->addWidget(temps_);
    divider();
    layout->addWidget(menuBar_);
    divider();
    layout->addWidget(footer_);
    veil_->lower();

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

QSize PopoverView::fittingSize() {
    if (syncPending_) sync();
    QLayout* box = layout();
    box->activate();
    const int height = box->hasHeightForWidth() ? box->totalHeightForWidth(panelWidth)
                                                : box->totalSizeHint().height();
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
