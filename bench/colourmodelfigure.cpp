// The README's picture of the two colour models: photos of the evaluation set
// turned grey, each object painted with its true median colour at the default
// strength, in the classic model and in the natural one, beside the grey and
// the true colour photo, laid as the canvas lays the layer over the photo.
//
//   brivela_colourmodelfigure OUT.png [EVALSET.json] [PHOTO ...]

#include "evalset.h"
#include "imaging/strokebuffer.h"
#include "imaging/strokestyle.h"

#include <QGuiApplication>
#include <QPainter>

#include <cstdio>

namespace {

RowSpans spansOf(const QImage &mask)
{
    RowSpans spans;
    for (int y = 0; y < mask.height(); ++y) {
        const uchar *row = mask.constScanLine(y);
        for (int x = 0; x < mask.width();) {
            if (!row[x]) {
                ++x;
                continue;
            }
            const int left = x;
            while (x < mask.width() && row[x])
                ++x;
            spans.append(RowSpan{y, left, x - 1});
        }
    }
    return spans;
}

QImage painted(const EvalSet::Photo &photo, StrokeStyle::Model model)
{
    QImage layer(photo.grey.size(), QImage::Format_ARGB32);
    layer.fill(0);
    for (const EvalSet::Object &object : photo.objects) {
        StrokeStyle style;
        style.model = model;
        style.brush = object.median.rgb();
        StrokeBuffer stroke(layer, photo.grey, style, 0);
        stroke.paint(spansOf(object.mask));
    }
    QImage shown = photo.grey.convertToFormat(QImage::Format_RGB32);
    QPainter painter(&shown);
    painter.drawImage(0, 0, layer);
    return shown;
}

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: %s OUT.png [EVALSET.json] [PHOTO ...]\n", argv[0]);
        return 2;
    }
    const EvalSet set = EvalSet::load(args.size() > 2 && !args.at(2).isEmpty() ? args.at(2) : EvalSet::testSetPath());
    if (!set.isValid()) {
        std::fprintf(stderr, "%s\n", qPrintable(set.errorString()));
        return 1;
    }
    const QStringList wanted = args.mid(3);
    QList<EvalSet::Photo> photos;
    for (const EvalSet::Photo &photo : set.photos())
        if (!photo.greyOnly && (wanted.isEmpty() || wanted.contains(photo.name)))
            photos.append(photo);
    if (photos.isEmpty())
        return 1;

    constexpr int gap = 6;
    constexpr int title = 26;
    const QStringList columns = {QStringLiteral("Grey photo"), QStringLiteral("Classic colour"),
                                 QStringLiteral("Natural colour"), QStringLiteral("Colour photo")};
    int width = 0;
    int height = title;
    for (const EvalSet::Photo &photo : photos) {
        width = std::max(width, 4 * photo.grey.width() + 3 * gap);
        height += photo.grey.height() + gap;
    }
    QImage figure(width, height - gap, QImage::Format_RGB32);
    figure.fill(Qt::white);
    QPainter painter(&figure);
    const int cell = (width - 3 * gap) / 4;
    for (int c = 0; c < 4; ++c)
        painter.drawText(QRect(c * (cell + gap), 0, cell, title), Qt::AlignCenter, columns.at(c));
    int y = title;
    for (const EvalSet::Photo &photo : photos) {
        const QImage row[] = {photo.grey.convertToFormat(QImage::Format_RGB32),
                              painted(photo, StrokeStyle::Model::Classic), painted(photo, StrokeStyle::Model::Natural),
                              photo.colour};
        for (int c = 0; c < 4; ++c)
            painter.drawImage(c * (cell + gap), y, row[c]);
        y += photo.grey.height() + gap;
    }
    painter.end();
    return figure.save(args.at(1)) ? 0 : 1;
}
