#include "Tarnwick/panel/PanelAccessibility.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QHash>
#include <QPointer>
#include <QWindow>

#include "Tarnwick/panel/PanelWindow.h"
#include "Tarnwick/panel/views/MenuBarSection.h"
#include "Tarnwick/panel/views/TempRow.h"
#include "Tarnwick/panel/views/TempsSection.h"
#include "Tarnwick/widgets/SegmentedControl.h"
#include "Tarnwick/widgets/Stepper.h"

namespace {

// One segment of a segmented control: a page tab, selected when it is the chosen one; pressing
// it chooses it as a click does.
class SegmentAccessible : public QAccessibleInterface, public QAccessibleActionInterface {
  public:
    SegmentAccessible(SegmentedControl* control, int index) : control_(control), index_(index) {}

    bool isValid() const override { return control_ != nullptr && index_ < control_->count(); }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override {
        return control_ != nullptr ? control_->window()->windowHandle() : nullptr;
    }
    QAccessibleInterface* parent() const override {
        return QAccessible::queryAccessibleInterface(control_);
    }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QString text(QAccessible::Text t) const override {
        return t == QAccessible::Name && isValid() ? control_->labels().at(index_) : QString();
    }
    void setText(QAccessible::Text, const QString&) override {}
    QRect rect() const override {
        if (!isValid()) return {};
        const QRect segment = control_->segmentRect(index_);
        return {control_->mapToGlobal(segment.topLeft()), segment.size()};
    }
    QAccessible::Role role() const override { return QAccessible::PageTab; }
    QAccessible::State state() const override {
        QAccessible::State state;
        if (!isValid()) return state;
        const bool chosen = control_->selected() == index_;
        state.selectable = state.checkable = true;
        state.selected = state.checked = chosen;
        state.invisible = !control_->isVisible();
        state.disabled = !control_->isEnabled();
        return state;
    }
    void* interface_cast(QAccessible::InterfaceType type) override {
        return type == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface*>(this)
                                                    : nullptr;
    }

    QStringList actionNames() const override { return {pressAction()}; }
    void doAction(const QString& name) override {
        if (name == pressAction() && isValid() && control_->isEnabled()) control_->choose(index_);
    }
    QStringList keyBindingsForAction(const QString&) const override { return {}; }

  private:
    QPointer<SegmentedControl> control_;
    int index_;
};

// A segmented control: a list of page tabs, one chosen.
class SegmentedAccessible : public QAccessibleWidget {
  public:
    explicit SegmentedAccessible(SegmentedControl* control)
        : QAccessibleWidget(control, QAccessible::PageTabList) {}
    ~SegmentedAccessible() override {
        for (const QAccessible::Id id : std::as_const(segments_)) {
            QAccessible::deleteAccessibleInterface(id);
        }
    }

    int childCount() const override { return control()->count(); }
    QAccessibleInterface* child(int index) const override {
        if (index < 0 || index >= childCount()) return nullptr;
        // The bridge refers to children by id: each segment gets one interface for good.
        if (const QAccessible::Id id = segments_.value(index)) {
            return QAccessible::accessibleInterface(id);
        }
        auto* segment = new SegmentAccessible(control(), index);
        segments_.insert(index, QAccessible::registerAccessibleInterface(segment));
        return segment;
    }
    int indexOfChild(const QAccessibleInterface* segment) const override {
        for (int i = 0; i < childCount(); ++i) {
            if (child(i) == segment) return i;
        }
        return -1;
    }
    QAccessibleInterface* childAt(int x, int y) const override {
        for (int i = 0; i < childCount(); ++i) {
            if (child(i)->rect().contains(x, y)) return child(i);
        }
        return nullptr;
    }

  private:
    SegmentedControl* control() const { return static_cast<SegmentedControl*>(widget()); }

    mutable QHash<int, QAccessible::Id> segments_;
};

// The stepper: a spin box whose value the arrows (or the actions) move by one step.
class StepperAccessible : public QAccessibleWidget, public QAccessibleValueInterface {
  public:
    explicit StepperAccessible(Stepper* stepper)
        : QAccessibleWidget(stepper, QAccessible::SpinBox) {}

    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Value) return stepper()->title();
        return QAccessibleWidget::text(t);
    }
    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::ValueInterface)
            return static_cast<QAccessibleValueInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }
    QVariant currentValue() const override { return stepper()->value(); }
    void setCurrentValue(const QVariant& value) override {
        // Step by step, so that each step is reported as the arrows report it.
        const double wanted = value.toDouble();
        double before = stepper()->value() + 1;
        while (stepper()->value() != wanted && stepper()->value() != before) {
            before = stepper()->value();
            stepper()->stepBy(wanted > before);
        }
    }
    QVariant maximumValue() const override { return stepper()->maximum(); }
    QVariant minimumValue() const override { return stepper()->minimum(); }
    QVariant minimumStepSize() const override { return stepper()->step(); }

    QStringList actionNames() const override {
        return QAccessibleWidget::actionNames() << increaseAction() << decreaseAction();
    }
    void doAction(const QString& name) override {
        if (name == increaseAction() || name == decreaseAction()) {
            stepper()->stepBy(name == increaseAction());
            return;
        }
        QAccessibleWidget::doAction(name);
    }

  private:
    Stepper* stepper() const { return static_cast<Stepper*>(widget()); }
};

// The header that opens and closes the tray settings: a button that expands them.
class DisclosureAccessible : public QAccessibleWidget {
  public:
    DisclosureAccessible(QWidget* header, MenuBarSection* section)
        : QAccessibleWidget(header, QAccessible::Button), section_(section) {}

    QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        state.expandable = true;
        state.expanded = section_->isExpanded();
        state.collapsed = !section_->isExpanded();
        return state;
    }
    QStringList actionNames() const override {
        return QAccessibleWidget::actionNames() << pressAction();
    }
    void doAction(const QString& name) override {
        if (name == pressAction()) {
            section_->toggleExpanded();
            return;
        }
        QAccessibleWidget::doAction(name);
    }

  private:
    QPointer<MenuBarSection> section_;
};

// A temperature row: one list item named by its source and value ("CPU 61.5 °C").
class TempRowAccessible : public QAccessibleWidget {
  public:
    explicit TempRowAccessible(TempRow* row) : QAccessibleWidget(row, QAccessible::ListItem) {}

    QString text(QAccessible::Text t) const override {
        if (t != QAccessible::Name) return QAccessibleWidget::text(t);
        const auto* row = static_cast<const TempRow*>(widget());
        return row->name() + QLatin1Char(' ') + row->valueText();
    }
};

QAccessibleInterface* factory(const QString&, QObject* object) {
    if (auto* control = qobject_cast<SegmentedControl*>(object)) {
        return new SegmentedAccessible(control);
    }
    if (auto* stepper = qobject_cast<Stepper*>(object)) return new StepperAccessible(stepper);
    if (auto* row = qobject_cast<TempRow*>(object)) return new TempRowAccessible(row);
    if (auto* panel = qobject_cast<PanelWindow*>(object)) {
        return new QAccessibleWidget(panel, QAccessible::Window);
    }
    if (auto* temps = qobject_cast<TempsSection*>(object)) {
        return new QAccessibleWidget(temps, QAccessible::List);
    }
    auto* widget = qobject_cast<QWidget*>(object);
    if (widget == nullptr) return nullptr;
    auto* section = qobject_cast<MenuBarSection*>(widget->parentWidget());
    if (section != nullptr && section->header() == widget) {
        return new DisclosureAccessible(widget, section);
    }
    return nullptr;
}

}  // namespace

namespace PanelAccessibility {

void install() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    QAccessible::installFactory(&factory);
}

}  // namespace PanelAccessibility
