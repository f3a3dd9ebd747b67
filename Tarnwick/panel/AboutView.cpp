#include "Tarnwick/panel/AboutView.h"

#include <QApplication>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

#include "Tarnwick/widgets/Text.h"

namespace {

// Paints the application icon at 128 points, sharp at any device pixel ratio.
class IconView : public QWidget {
  public:
    explicit IconView(QWidget* parent) : QWidget(parent) { setFixedSize(128, 128); }

  protected:
    void paintEvent(QPaintEvent*) override {
        const QIcon icon = QApplication::windowIcon();
        if (icon.isNull()) return;
        QPainter painter(this);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        const double ratio = painter.device()->devicePixelRatioF();
        const QPixmap pixmap = icon.pixmap(QSize(128, 128), ratio);
        painter.drawPixmap(rect(), pixmap);
    }
};

Text* line(const QString& text, Theme::TextStyle style, Tone tone, QWidget* parent) {
    auto* label = new Text(text, style, tone, parent);
    label->setAlignment(Qt::AlignHCenter);
    return label;
}

}  // namespace

AboutView::AboutView(QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(40, 10, 40, 24);
    layout->setSpacing(6);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    layout->addWidget(new IconView(this), 0, Qt::AlignHCenter);
    layout->addWidget(
        line(QStringLiteral("tarnwick"), Theme::TextStyle::title2, Tone::primary, this), 0,
        Qt::AlignHCenter);
    layout->addWidget(line(QStringLiteral("version ") + version(), Theme::TextStyle::caption,
                           Tone::secondary, this),
                      0, Qt::AlignHCenter);
    layout->addSpacing(8);
    layout->addWidget(line(QStringLiteral("fan speeds and temperatures at a glance"),
                           Theme::TextStyle::body, Tone::primary, this),
                      0, Qt::AlignHCenter);
    layout->addWidget(line(QStringLiteral("a small daemon spins the fans up before the chip "
                                          "gets hot"),
                           Theme::TextStyle::caption, Tone::secondary, this),
                      0, Qt::AlignHCenter);
    layout->addSpacing(8);
    layout->addWidget(line(QStringLiteral("icons from the Phosphor set, MIT licence"),
                           Theme::TextStyle::caption2, Tone::tertiary, this),
                      0, Qt::AlignHCenter);
}

QString AboutView::version() {
    const QString version = QCoreApplication::applicationVersion();
    return version.isEmpty() ? QStringLiteral("?") : version;
}

QSize AboutView::sizeHint() const { return layout()->totalSizeHint(); }
