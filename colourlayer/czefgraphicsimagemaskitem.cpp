#include "colourlayer/czefgraphicsimagemaskitem.h"

#include "colourlayer/colourisetable.h"
#include "colourlayer/edgesmoothing.h"

#include <QPainter>
#include <QStyleOptionGraphicsItem>

#include <algorithm>
#include <limits>
#include <utility>

namespace {

// Collects the bounding rectangle of the pixels a pass writes.
class ChangedArea
{
public:
    void add(int x, int y)
    {
        left = std::min(left, x);
        right = std::max(right, x);
        top = std::min(top, y);
        bottom = std::max(bottom, y);
    }
    QRect rect() const { return left > right ? QRect() : QRect(QPoint(left, top), QPoint(right, bottom)); }

private:
    int left = std::numeric_limits<int>::max();
    int right = std::numeric_limits<int>::min();
    int top = std::numeric_limits<int>::max();
    int bottom = std::numeric_limits<int>::min();
};

inline quint32 *pixelAt(uchar *bits, qsizetype bytesPerLine, const QPoint &p)
{
    return reinterpret_cast<quint32 *>(bits + p.y() * bytesPerLine) + p.x();
}

// Writes `value` at every point inside the layer, straight into its memory.
void writeValue(QImage &layer, const QList<QPoint> &points, quint32 value, ChangedArea &changed)
{
    const QRect layerRect(0, 0, layer.width(), layer.height());
    uchar *bits = layer.bits();
    const qsizetype bytesPerLine = layer.bytesPerLine();
    for (const QPoint &p : points) {
        if (!layerRect.contains(p, false))
            continue;
        *pixelAt(bits, bytesPerLine, p) = value;
        changed.add(p.x(), p.y());
    }
}

} // namespace

CZefGraphicsImageMaskItem::CZefGraphicsImageMaskItem(QGraphicsItem *parent)
    : QGraphicsItem(parent)
{
    // paint() draws only the exposed part of the layer.
    setFlag(ItemUsesExtendedStyleOption);
}

CZefGraphicsImageMaskItem::~CZefGraphicsImageMaskItem()
{
    delete maskImage;
}

bool CZefGraphicsImageMaskItem::init(int width, int height, unsigned int fg, unsigned int bg)
{
    QImage layer(width, height, QImage::Format_ARGB32);
    QImage smoothed = layer.isNull() ? QImage() : QImage(width, height, QImage::Format_ARGB32);
    return init(std::move(layer), std::move(smoothed), fg, bg);
}

bool CZefGraphicsImageMaskItem::init(QImage layer, QImage smoothed, unsigned int fg, unsigned int bg)
{
    // A null image is what a failed allocation leaves; the old layer stays.
    if (layer.isNull() || smoothed.size() != layer.size() || layer.format() != QImage::Format_ARGB32
        || smoothed.format() != QImage::Format_ARGB32)
        return false;

    prepareGeometryChange();
    if (maskImage)
        *maskImage = std::move(layer);
    else
        maskImage = new QImage(std::move(layer));
    this->fg = fg;
    this->bg = bg;
    maskImage->fill(bg);

    // A uniform layer has no edges: its softened picture is the layer itself.
    smoothedImage = std::move(smoothed);
    smoothedImage.fill(bg);
    staleRegion = QRegion();
    update(QRectF());
    return true;
}

void CZefGraphicsImageMaskItem::setFg(unsigned int fg)
{
    this->fg = fg;
}

QRectF CZefGraphicsImageMaskItem::boundingRect() const
{
    if (!maskImage)
        return QRectF(0, 0, 0, 0);
    return QRectF(0, 0, maskImage->width(), maskImage->height());
}

void CZefGraphicsImageMaskItem::paint(QPainter *painter, const QStyleOptionGraphicsItem *option,
                                      QWidget *widget)
{
    Q_UNUSED(widget);
    if (!maskImage || maskImage->isNull() || smoothedImage.size() != maskImage->size())
        return;

    for (const QRect &stale : staleRegion)
        EdgeSmoothing::smoothRect(*maskImage, smoothedImage, stale);
    staleRegion = QRegion();

    const QRect exposed = option->exposedRect.toAlignedRect() & maskImage->rect();
    if (!exposed.isEmpty())
        painter->drawImage(exposed.topLeft(), smoothedImage, exposed);
}

QList<QPoint> CZefGraphicsImageMaskItem::fgpoints()
{
    QList<QPoint> points;
    if (!maskImage)
        return points;
    for (int x = 0; x < maskImage->width(); ++x)
        for (int y = 0; y < maskImage->height(); ++y)
            if (maskImage->pixel(x, y) == fg)
                points.append(QPoint(x, y));
    return points;
}

void CZefGraphicsImageMaskItem::updateMaskFromImage(QList<QPoint> newfg, QList<QPoint> newbg,
                                                    QImage *photo)
{
    if (!maskImage || maskImage->isNull())
        return;
    const QRect layerRect(0, 0, maskImage->width(), maskImage->height());
    uchar *bits = maskImage->bits();
    const qsizetype bytesPerLine = maskImage->bytesPerLine();
    ChangedArea changed;

    // Points the photo does not cover (a photo smaller than the layer, or none)
    // are treated like points outside the layer.
    const QRect photoRect = photo ? photo->rect() : QRect();
    const ColouriseTable colours(fg);
    for (const QPoint &p : std::as_const(newfg)) {
        if (!layerRect.contains(p, false) || !photoRect.contains(p, false))
            continue;
        *pixelAt(bits, bytesPerLine, p) = colours.colourFor(ColouriseTable::valueAt(*photo, p.x(), p.y()));
        changed.add(p.x(), p.y());
    }
    // The clearing pass runs second: a point in both lists ends uncoloured.
    writeValue(*maskImage, newbg, bg, changed);
    layerChanged(changed.rect(), true);
}

void CZefGraphicsImageMaskItem::updateMask(QList<QPoint> newfg, QList<QPoint> newbg)
{
    if (!maskImage || maskImage->isNull())
        return;
    ChangedArea changed;
    writeValue(*maskImage, newfg, fg, changed);
    writeValue(*maskImage, newbg, bg, changed);
    layerChanged(changed.rect(), true);
}

void CZefGraphicsImageMaskItem::recreateMaskfromFg(QList<QPoint> points)
{
    if (!maskImage || maskImage->isNull())
        return;
    maskImage->fill(bg);
    ChangedArea changed;
    writeValue(*maskImage, points, fg, changed);
    // The whole layer was rewritten; the caller decides when to repaint.
    layerChanged(maskImage->rect(), false);
}

void CZefGraphicsImageMaskItem::layerChanged(const QRect &changed, bool repaint)
{
    if (changed.isEmpty())
        return;
    // A changed pixel alters the softened value of its four neighbours too.
    const QRect affected = changed.adjusted(-1, -1, 1, 1) & maskImage->rect();
    staleRegion += affected;
    if (repaint)
        update(affected);
}
