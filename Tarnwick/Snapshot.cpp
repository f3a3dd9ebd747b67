#include "Tarnwick/Snapshot.h"

#include <QApplication>
#include <QLayout>
#include <QPainter>
#include <QSaveFile>

#include "Tarnwick/panel/AboutView.h"
#include "Tarnwick/panel/PopoverView.h"

namespace Snapshot {

std::optional<QString> pathFrom(const QStringList& arguments) {
    const qsizetype at = arguments.indexOf(QStringLiteral("--snapshot"));
    if (at < 0 || at + 1 >= arguments.size()) return std::nullopt;
    return arguments[at + 1];
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
    PopoverView view(model, PopoverView::expandMenuBarFrom(arguments));
    view.sync();
    return write(render(view, view.fittingSize()), path);
}

}  // namespace Snapshot
