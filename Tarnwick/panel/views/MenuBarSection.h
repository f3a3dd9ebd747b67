#pragma once

// The collapsible menu-bar settings: what the tray icon shows and whether it warns in colour.

#include <QWidget>
#include <functional>

class Model;
class QCheckBox;
class SegmentedControl;
class Text;
class DisclosureHeader;

class MenuBarSection : public QWidget {
    Q_OBJECT

  public:
    MenuBarSection(Model& model, bool expanded, QWidget* parent = nullptr);

    void sync();

    bool isExpanded() const { return expanded_; }
    // Flips the settings open or closed (the header and its indicator do this).
    void toggleExpanded();

    QWidget* header() const;
    QWidget* headerText() const;
    QWidget* fanVariant() const { return fanVariant_; }
    QWidget* fanlessVariant() const { return fanlessVariant_; }
    QCheckBox* showIcon() const { return showIcon_; }
    SegmentedControl* valuePicker() const { return value_; }
    QCheckBox* showUnit() const { return showUnit_; }
    QCheckBox* colorize() const { return colorize_; }
    QCheckBox* fanlessShowIcon() const { return fanlessShowIcon_; }
    QCheckBox* fanlessColorize() const { return fanlessColorize_; }
    // Which tray background the icon is drawn for; offered with and without fans.
    SegmentedControl* appearancePicker() const { return appearance_; }

  private:
    void applyExpanded();

    Model& model_;
    bool expanded_;
    DisclosureHeader* header_;
    QWidget* content_;
    QWidget* fanVariant_;
    QWidget* fanlessVariant_;
    QCheckBox* showIcon_;
    SegmentedControl* value_;
    QCheckBox* showUnit_;
    QCheckBox* colorize_;
    QCheckBox* fanlessShowIcon_;
    QCheckBox* fanlessColorize_;
    SegmentedControl* appearance_;
};
