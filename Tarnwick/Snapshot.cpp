#include "Tarnwick/Snapshot.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLayout>
#include <QPainter>
#include <QSaveFile>
#include <QThread>

#include "Tarnwick/panel/AboutView.h"
#include "Tarnwick/panel/PopoverView.h"

namespace Snapshot {

std::optional<QString> pathFrom(const QStringList& arguments) {
    const qsizetype at = arguments.indexOf(QStringLiteral("--snapshot"));
    if (at < 0 || at + 1 >= arguments.size()) return std::nullopt;
    return arguments[at + 1];
}

std::expected<int, QString> historyFrom(const QStringList& arguments) {
    const qsizetype at = arguments.indexOf(QStringLiteral("--history"));
    if (at < 0) return 0;
    bool ok = false;
    const int seconds = at + 1 < arguments.size() ? arguments[at + 1].toInt(&ok) : 0;
    if (!ok || seconds < 0 || seconds > History::window) {
        return std::unexpected(QStringLiteral("--history takes 0 to 900 seconds"));
    }
    return seconds;
}

QImage render(QWidget& widget, QSize size) {
    // Shown (though never on a screen) so that styles, fonts and layouts settle as in a window.
    widget.setAttribute(Qt::WA_DontShowOnScreen);
    widget.resize(size);
    widget.show();
    QApplication::processEvents();
    widget.resize(size);
    if (QLayout* layout = widget.layout()) layout->activate();

    QImage image(size * scale, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(scale);
    image.fill(widget.palette().color(QPalette::Window));
    QPainter painter(&image);
    widget.render(&painter, QPoint(), QRegion(), QWidget::DrawChildren);
    painter.end();
    widget.hide();
    return image;
}

bool write(const QImage& image, const QString& path) {
    if (image.isNull()) return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return false;
    if (!image.save(&file, "PNG")) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

bool run(const QStringList& arguments, const QString& path, ModelOptions options) {
    if (arguments.contains(QStringLiteral("--about"))) {
        AboutView view;
        return write(render(view, view.sizeHint()), path);
    }
    if (!options.arguments) options.arguments = arguments;
    // The picture is taken before the event loop could run the model's timer.
    options.startTimer = false;
    Model model(options);
    QElapsedTimer polling;
    polling.start();
    const qint64 historyMs = static_cast<qint64>(historyFrom(arguments).value_or(0)) * 1000;
    while (polling.elapsed() + Model::pollIntervalMs <= historyMs) {
        QThread::msleep(Model::pollIntervalMs);
        model.refresh();
    }
    PopoverView view(model, PopoverView::expandMenuBarFrom(arguments));
    view.sync();
    return write(render(view, view.fittingSize()), path);
}

}  // namespace Snapshot
