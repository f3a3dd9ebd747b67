#pragma once

// The machine's temperatures, one row per source that has a reading. The section is one stop of
// the keyboard's Tab order, so that a keyboard user scrolls it into view; it has no control.

#include <QWidget>
#include <array>

class Model;
class TempRow;
class Text;

class TempsSection : public QWidget {
    Q_OBJECT

  public:
    explicit TempsSection(Model& model, QWidget* parent = nullptr);

    void sync();

    // cpu, gpu, battery, ssd, wifi, internal air, palm rest.
    const std::array<TempRow*, 7>& rows() const { return rows_; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

  private:
    Model& model_;
    Text* header_;
    std::array<TempRow*, 7> rows_{};
};
