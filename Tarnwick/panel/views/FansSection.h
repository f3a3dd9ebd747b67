#pragma once

// The top of the panel: the header with the mode line, one row and bar per fan, and the
// installation buttons and messages.

#include <QMap>
#include <QString>
#include <QWidget>
#include <cstddef>

#include "FanCore/Policy/Records.h"

class Model;
class ElidedText;
class FanBar;
class ProminentButton;
class QVBoxLayout;
class Text;

class FansSection : public QWidget {
    Q_OBJECT

  public:
    explicit FansSection(Model& model, QWidget* parent = nullptr);

    // Re-reads the model; `animated` moves the bars with the fan animation.
    void sync(bool animated = false);

    struct Row {
        QWidget* row;
        Text* name;
        Text* speed;
        FanBar* bar;
    };
    // The rows by fan index, for the panel's tests.
    const QMap<int64_t, Row>& rows() const { return rows_; }
    ElidedText* modeLine() const { return modeLine_; }
    Text* noFansText() const { return noFans_; }
    ProminentButton* installButton() const { return install_; }
    Text* installText() const { return installText_; }
    ProminentButton* updateButton() const { return update_; }
    // Offered while fan control is installed but not running.
    ProminentButton* reinstallButton() const { return reinstall_; }
    Text* messageText() const { return message_; }

  private:
    Row makeRow();

    Model& model_;
    QVBoxLayout* layout_;
    QVBoxLayout* rowsLayout_;
    ElidedText* modeLine_;
    QMap<int64_t, Row> rows_;
    Text* noFans_;
    ProminentButton* install_;
    Text* installText_;
    Text* blocked_;
    ProminentButton* update_;
    ProminentButton* reinstall_;
    Text* message_;
};
