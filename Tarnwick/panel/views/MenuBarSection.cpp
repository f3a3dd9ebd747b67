#include "Tarnwick/panel/views/MenuBarSection.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "Tarnwick/model/Model.h"
#include "Tarnwick/widgets/SegmentedControl.h"
#include "Tarnwick/widgets/Text.h"

// The header row: the disclosure indicator and the section title; a click on either flips the
// section.
class DisclosureHeader : public QWidget {
  public:
    DisclosureHeader(MenuBarSection* section, QWidget* parent)
        : QWidget(parent),
          section_(section),
          title_(new Text(QStringLiteral("Tray icon"), Theme::TextStyle::headline, Tone::primary,
                          this)) {
        auto* layout = new QHBoxLayout(this);
        layout->setContentsMargins(indicatorWidth, 0, 0, 0);
        layout->setSpacing(0);
        layout->addWidget(title_);
        layout->addStretch(1);
        title_->setCursor(Qt::PointingHandCursor);
        title_->setAttribute(Qt::WA_TransparentForMouseEvents);
        setFocusPolicy(Qt::TabFocus);
    }

    Text* title() const { return title_; }
    QRect indicatorRect() const { return {0, 0, indicatorWidth, height()}; }

  protected:
    void mousePressEvent(QMouseEvent* event) override {
        const QPoint at = event->position().toPoint();
        if (event->button() == Qt::LeftButton &&
            (indicatorRect().contains(at) || title_->geometry().contains(at))) {
            section_->toggleExpanded();
        }
    }

    void keyPressEvent(QKeyEvent* event) override {
        if (event->key() == Qt::Key_Space || event->key() == Qt::Key_Return) {
            section_->toggleExpanded();
        } else {
            QWidget::keyPressEvent(event);
        }
    }

    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QPointF c(6, height() / 2.0);
        QPainterPath chevron;
        if (section_->isExpanded()) {
            chevron.moveTo(c.x() - 3.5, c.y() - 1.8);
            chevron.lineTo(c.x(), c.y() + 1.8);
            chevron.lineTo(c.x() + 3.5, c.y() - 1.8);
        } else {
            chevron.moveTo(c.x() - 1.8, c.y() - 3.5);
            chevron.lineTo(c.x() + 1.8, c.y());
            chevron.lineTo(c.x() - 1.8, c.y() + 3.5);
        }
        painter.setPen(
            QPen(Theme::secondary(palette()), 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.drawPath(chevron);
        if (hasFocus()) {
            painter.setPen(QPen(Theme::accent(palette()), 1.2));
            painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 4, 4);
        }
    }

  private:
    static constexpr int indicatorWidth = 16;
    MenuBarSection* section_;
    Text* title_;
};

namespace {

QCheckBox* checkBox(const QString& label, QWidget* parent) {
    auto* box = new QCheckBox(label, parent);
    box->setFont(Theme::font(Theme::TextStyle::body));
    return box;
}

void setCheckedQuietly(QCheckBox* box, bool checked) {
    const QSignalBlocker block(box);
    box->setChecked(checked);
}

}  // namespace

MenuBarSection::MenuBarSection(Model& model, bool expanded, QWidget* parent)
    : QWidget(parent),
      model_(model),
      expanded_(expanded),
      header_(new DisclosureHeader(this, this)),
      content_(new QWidget(this)),
      fanVariant_(new QWidget(content_)),
      fanlessVariant_(new QWidget(content_)),
      showIcon_(checkBox(QStringLiteral("show icon"), fanVariant_)),
      value_(new SegmentedControl({QStringLiteral("speed"), QStringLiteral("gauge"),
                                   QStringLiteral("level"), QStringLiteral("icon")},
                                  fanVariant_)),
      showUnit_(checkBox(QStringLiteral("show “rpm” after the number"), fanVariant_)),
      colorize_(checkBox(QStringLiteral("turn yellow / red when hot"), fanVariant_)),
      fanlessShowIcon_(checkBox(QStringLiteral("show icon"), fanlessVariant_)),
      fanlessColorize_(checkBox(QStringLiteral("turn yellow / red when hot"), fanlessVariant_)),
      appearance_(new SegmentedControl(
          {QStringLiteral("auto"), QStringLiteral("light"), QStringLiteral("dark")}, content_)) {
    // Named once header_ is set: the name makes the header's accessible interface, which needs
    // to find it as this section's header.
    header_->setAccessibleName(header_->title()->text());
    value_->setAccessibleName(QStringLiteral("tray icon shows"));
    appearance_->setAccessibleName(QStringLiteral("tray background"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(header_);
    layout->addWidget(content_);

    auto* contentLayout = new QVBoxLayout(content_);
    contentLayout->setContentsMargins(0, 6, 0, 0);
    contentLayout->setSpacing(0);
    contentLayout->addWidget(fanVariant_);
    contentLayout->addWidget(fanlessVariant_);
    auto* tray = new QHBoxLayout;
    tray->setContentsMargins(0, 8, 0, 0);
    tray->addWidget(new Text(QStringLiteral("tray background"), Theme::TextStyle::body,
                             Tone::primary, content_));
    tray->addStretch(1);
    tray->addWidget(appearance_);
    contentLayout->addLayout(tray);

    auto* fans = new QVBoxLayout(fanVariant_);
    fans->setContentsMargins(0, 0, 0, 0);
    fans->setSpacing(8);
    fans->addWidget(showIcon_);
    auto* show = new QHBoxLayout;
    show->addWidget(
        new Text(QStringLiteral("show"), Theme::TextStyle::body, Tone::primary, fanVariant_));
    show->addStretch(1);
    show->addWidget(value_);
    fans->addLayout(show);
    // The tray's square has no room for the unit beside the fan.
    showUnit_->setToolTip(QStringLiteral(
        "in the tray the unit shows under the number when the icon is off; the tooltip always "
        "has it"));
    fans->addWidget(showUnit_);
    fans->addWidget(colorize_);
    auto* fanNote = new Text(QStringLiteral("speed shows the faster fan, gauge fills the ring "
                                            "with it; yellow from 80 °C, red from 95 °C"),
                             Theme::TextStyle::caption, Tone::secondary, fanVariant_);
    fanNote->setWraps(true);
    fans->addWidget(fanNote);

    auto* fanless = new QVBoxLayout(fanlessVariant_);
    fanless->setContentsMargins(0, 0, 0, 0);
    fanless->setSpacing(8);
    fanless->addWidget(fanlessShowIcon_);
    fanless->addWidget(fanlessColorize_);
    auto* fanlessNote = new Text(QStringLiteral("without fans the tray icon shows the hottest "
                                                "chip temperature; yellow from 80 °C, red from "
                                                "95 °C"),
                                 Theme::TextStyle::caption, Tone::secondary, fanlessVariant_);
    fanlessNote->setWraps(true);
    fanless->addWidget(fanlessNote);

    auto edit = [this](auto change) {
        MenuBarStyle style = model_.menuBar();
        change(style);
        model_.setMenuBar(style);
    };
    for (QCheckBox* box : {showIcon_, fanlessShowIcon_}) {
        connect(box, &QCheckBox::toggled, this,
                [edit](bool on) { edit([on](MenuBarStyle& s) { s.showIcon = on; }); });
    }
    for (QCheckBox* box : {colorize_, fanlessColorize_}) {
        connect(box, &QCheckBox::toggled, this,
                [edit](bool on) { edit([on](MenuBarStyle& s) { s.colorize = on; }); });
    }
    connect(showUnit_, &QCheckBox::toggled, this,
            [edit](bool on) { edit([on](MenuBarStyle& s) { s.showUnit = on; }); });
    connect(value_, &SegmentedControl::activated, this, [edit](int index) {
        if (index < 0 || index >= static_cast<int>(allMenuBarValues.size())) return;
        const MenuBarValue value = allMenuBarValues[static_cast<std::size_t>(index)];
        edit([value](MenuBarStyle& s) { s.value = value; });
    });
    connect(appearance_, &SegmentedControl::activated, this, [edit](int index) {
        if (index < 0 || index >= static_cast<int>(allTrayAppearances.size())) return;
        const TrayAppearance appearance = allTrayAppearances[static_cast<std::size_t>(index)];
        edit([appearance](MenuBarStyle& s) { s.appearance = appearance; });
    });
    applyExpanded();
    sync();
}

QWidget* MenuBarSection::header() const { return header_; }
QWidget* MenuBarSection::headerText() const { return header_->title(); }

void MenuBarSection::toggleExpanded() {
    expanded_ = !expanded_;
    applyExpanded();
}

void MenuBarSection::applyExpanded() {
    content_->setVisible(expanded_);
    header_->update();
}

void MenuBarSection::sync() {
    const MenuBarStyle& style = model_.menuBar();
    const bool hasFans = !model_.fans().empty();
    fanVariant_->setVisible(hasFans);
    fanlessVariant_->setVisible(!hasFans);

    setCheckedQuietly(showIcon_, style.showIcon);
    showIcon_->setEnabled(style.value != MenuBarValue::gauge && style.value != MenuBarValue::none);
    int selected = -1;
    for (std::size_t i = 0; i < allMenuBarValues.size(); ++i) {
        if (allMenuBarValues[i] == style.value) selected = static_cast<int>(i);
    }
    value_->setSelected(selected);
    setCheckedQuietly(showUnit_, style.showUnit);
    showUnit_->setEnabled(style.value == MenuBarValue::rpm);
    setCheckedQuietly(colorize_, style.colorize);

    setCheckedQuietly(fanlessShowIcon_, style.showIcon);
    setCheckedQuietly(fanlessColorize_, style.colorize);
    for (std::size_t i = 0; i < allTrayAppearances.size(); ++i) {
        if (allTrayAppearances[i] == style.appearance)
            appearance_->setSelected(static_cast<int>(i));
    }
}
