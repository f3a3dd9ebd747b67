#include "Tarnwick/panel/views/FansSection.h"

#include <QHBoxLayout>
#include <QSet>
#include <QVBoxLayout>

#include "FanCore/Text/FanName.h"
#include "FanCore/Text/Rpm.h"
#include "Tarnwick/model/Model.h"
#include "Tarnwick/panel/views/FanBar.h"
#include "Tarnwick/widgets/ElidedText.h"
#include "Tarnwick/widgets/ProminentButton.h"
#include "Tarnwick/widgets/SymbolView.h"
#include "Tarnwick/widgets/Text.h"

FansSection::FansSection(Model& model, QWidget* parent)
    : QWidget(parent),
      model_(model),
      layout_(new QVBoxLayout(this)),
      rowsLayout_(new QVBoxLayout),
      modeLine_(new ElidedText(Theme::TextStyle::caption, Tone::secondary, this)),
      noFans_(
          new Text(QStringLiteral("this machine has no fans, so tarnwick only shows temperatures"),
                   Theme::TextStyle::caption, Tone::secondary, this)),
      install_(new ProminentButton(QStringLiteral("install fan control…"), this)),
      installText_(new Text(QStringLiteral("setting fan speed needs administrator rights; you "
                                           "will be asked for your password once"),
                            Theme::TextStyle::caption, Tone::secondary, this)),
      blocked_(new Text({}, Theme::TextStyle::caption, Tone::secondary, this)),
      update_(new ProminentButton(QStringLiteral("update fan control…"), this)),
      reinstall_(new ProminentButton(QStringLiteral("reinstall fan control…"), this)),
      message_(new Text({}, Theme::TextStyle::caption, Tone::red, this)) {
    layout_->setContentsMargins(0, 0, 0, 0);
    layout_->setSpacing(6);

    auto* header = new QHBoxLayout;
    header->setSpacing(8);
    header->addWidget(
        new Text(QStringLiteral("tarnwick"), Theme::TextStyle::headline, Tone::primary, this));
    header->addStretch(1);
    header->addWidget(modeLine_, 0, Qt::AlignVCenter);
    layout_->addLayout(header);
    layout_->addSpacing(6);

    rowsLayout_->setContentsMargins(0, 0, 0, 0);
    rowsLayout_->setSpacing(6);
    layout_->addLayout(rowsLayout_);

    noFans_->setWraps(true);
    installText_->setWraps(true);
    message_->setWraps(true);
    layout_->addWidget(noFans_);
    layout_->addWidget(install_);
    layout_->addWidget(installText_);
    blocked_->setWraps(true);
    layout_->addWidget(blocked_);
    layout_->addWidget(update_);
    layout_->addWidget(reinstall_);
    layout_->addWidget(message_);

    connect(install_, &QPushButton::clicked, this,
            [this] { model_.runPrivileged(QStringLiteral("install.sh")); });
    for (ProminentButton* button : {update_, reinstall_}) {
        connect(button, &QPushButton::clicked, this,
                [this] { model_.runPrivileged(QStringLiteral("install.sh")); });
    }
    sync();
}

FansSection::Row FansSection::makeRow() {
    Row row{};
    row.row = new QWidget(this);
    auto* column = new QVBoxLayout(row.row);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(6);
    auto* line = new QHBoxLayout;
    line->setSpacing(6);
    line->addWidget(new SymbolView(QStringLiteral("fan.fill"), 13, Tone::primary, 0, row.row));
    row.name = new Text({}, Theme::TextStyle::body, Tone::primary, row.row);
    line->addWidget(row.name);
    line->addStretch(1);
    row.speed = new Text({}, Theme::TextStyle::body, Tone::primary, row.row);
    row.speed->setTextStyle(Theme::TextStyle::body, true);
    line->addWidget(row.speed);
    column->addLayout(line);
    row.bar = new FanBar(0, row.row);
    column->addWidget(row.bar);
    return row;
}

void FansSection::sync(bool animated) {
    modeLine_->setText(model_.modeLine());

    // A fan keeps its row (and its bar's animation) for as long as its index stays in the list.
    const std::vector<Fan>& fans = model_.fans();
    QMap<int64_t, Row> kept;
    for (const Fan& fan : fans) {
        if (kept.contains(fan.index)) continue;
        auto it = rows_.find(fan.index);
        Row row = it != rows_.end() ? *it : makeRow();
        if (it != rows_.end()) rows_.erase(it);
        kept.insert(fan.index, row);
    }
    for (const Row& gone : rows_) delete gone.row;
    rows_ = kept;
    int position = 0;
    QSet<int64_t> shown;
    for (const Fan& fan : fans) {
        if (shown.contains(fan.index)) continue;  // a repeated index has its row already
        shown.insert(fan.index);
        const Row& row = rows_[fan.index];
        if (rowsLayout_->indexOf(row.row) != position) {
            rowsLayout_->removeWidget(row.row);
            rowsLayout_->insertWidget(position, row.row);
        }
        ++position;
        row.name->setText(QString::fromStdString(FanText::fanName(fan.index, fans.size())));
        row.speed->setText(QString::fromStdString(FanText::roundedRpm(fan.actual)));
        row.bar->setValue(fanBarValue(fan.actual, fan.max), animated);
    }

    const bool noFans = fans.empty();
    // A driver that refuses every write makes an install pointless; the line says what would help.
    const std::optional<QString>& blocked = model_.fanControlBlocked();
    const bool offerInstall = !noFans && !model_.helperInstalled() && !blocked;
    noFans_->setVisible(noFans);
    install_->setVisible(offerInstall);
    installText_->setVisible(offerInstall);
    blocked_->setVisible(!noFans && !model_.helperInstalled() && blocked.has_value());
    blocked_->setText(blocked.value_or(QString()));
    update_->setVisible(model_.helperOutdated());
    reinstall_->setVisible(!noFans && model_.helperInstalled() && !model_.helperOutdated() &&
                           !model_.helperRunning());
    // While a script runs its button says so and no second run can start.
    const std::optional<QString>& running = model_.runningScript();
    const QString busy = running == QLatin1String("uninstall.sh") ? QStringLiteral("removing…")
                                                                  : QStringLiteral("installing…");
    install_->setTitle(running ? busy : QStringLiteral("install fan control…"));
    update_->setTitle(running ? busy : QStringLiteral("update fan control…"));
    reinstall_->setTitle(running ? busy : QStringLiteral("reinstall fan control…"));
    for (ProminentButton* button : {install_, update_, reinstall_}) button->setEnabled(!running);
    const std::optional<QString>& message = model_.helperMessage();
    message_->setVisible(message.has_value());
    message_->setText(message.value_or(QString()));
}
