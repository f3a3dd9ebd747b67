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

bool run(const AppOptions& options, const QString& path, ModelOptions modelOptions) {
    if (options.about) {
        AboutView view;
        return write(render(view, view.sizeHint()), path);
    }
    // The picture is taken before the event loop could run the model's timer.
    modelOptions.startTimer = false;
    Model model(modelOptions);
    QElapsedTimer polling;
    polling.start();
    const qint64 historyMs = static_cast<qint64>(options.historySeconds) * 1000;
    while (polling.elapsed() + Model::pollIntervalMs <= historyMs) {
        QThread::msleep(Model::pollIntervalMs);
        model.refresh();
    }
    PopoverView view(model, options.expandMenuBar);
    view.sync();
    return write(render(view, view.fittingSize()), path);
}

}  // namespace Snapshot
