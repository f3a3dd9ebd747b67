#pragma once

// The machine's temperatures, one row per source that has a reading.

#include <QWidget>
#include <array>

class Model;
class TempRow;

class TempsSection : public QWidget {
    Q_OBJECT

  public:
    explicit TempsSection(Model& model, QWidget* parent = nullptr);

    void sync();

    // cpu, gpu, battery, ssd, wifi, internal air, palm rest.
    const std::array<TempRow*, 7>& rows() const { return rows_; }

  private:
    Model& model_;
    std::array<TempRow*, 7> rows_{};
};
