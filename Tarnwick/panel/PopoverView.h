#pragma once

// The panel's whole content over the model: fans and their recent history, cooling, battery,
// temperatures, menu-bar settings and footer, re-read whenever the model publishes a change.

#include <QSize>
#include <QStringList>
#include <QWidget>

class Model;
class FansSection;
class HistoryChart;
class ControlSection;
class BatterySection;
class TempsSection;
class MenuBarSection;
class Footer;
class GlassVeil;
class FittingScrollArea;

class PopoverView : public QWidget {
    Q_OBJECT

  public:
    static constexpr int panelWidth = 330;
    static constexpr int padding = 16;
    static constexpr int spacing = 14;

    // `showMenuBarSettings`: whether the menu-bar settings start expanded.
    PopoverView(Model& model, bool showMenuBarSettings, QWidget* parent = nullptr);

    // Re-reads the model at once (changes are otherwise applied on the next event-loop turn).
    void sync();

    // The least height of the scrolling middle (cooling to menu-bar settings), in points.
    static constexpr int minimumMiddleHeight = 60;

    // The size the content needs at the panel's fixed width, after any pending re-read; taller
    // than `maxHeight` only when even a middle of minimumMiddleHeight does not fit. Resizes
    // nothing: shown at the returned size, the content gives the scrolling middle what is left.
    QSize fittingSize(int maxHeight = QWIDGETSIZE_MAX);

    // The sections between the fans and the footer, which scroll when the panel is capped.
    FittingScrollArea* scrollArea() const { return scroll_; }

    FansSection* fans() const { return fans_; }
    HistoryChart* history() const { return history_; }
    ControlSection* controls() const { return controls_; }
    BatterySection* battery() const { return battery_; }
    TempsSection* temps() const { return temps_; }
    MenuBarSection* menuBar() const { return menuBar_; }
    Footer* footer() const { return footer_; }
    // The dividers between sections, top to bottom.
    QList<QWidget*> dividers() const { return dividers_; }

  signals:
    // The content's fitting size may have changed.
    void contentResized();

  protected:
    void resizeEvent(QResizeEvent* event) override;
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

  private:
    void scheduleSync(bool animated);
    void orderTabChain();

    // Qt keeps the first accessible interface it makes for a widget (a name set in a
    // constructor makes one): the panel's own interfaces are installed before any child exists.
    bool accessible_;
    Model& model_;
    GlassVeil* veil_;
    FansSection* fans_;
    HistoryChart* history_;
    ControlSection* controls_;
    BatterySection* battery_;
    TempsSection* temps_;
    MenuBarSection* menuBar_;
    Footer* footer_;
    FittingScrollArea* scroll_;
    QWidget* middle_;
    QList<QWidget*> dividers_;
    QWidget* batteryDivider_;
    QWidget* controlsDivider_;
    bool syncPending_ = false;
    bool animatePending_ = false;
};
