#include "app/document.h"

#include "app/photofile.h"
#include "canvas/chidemarkscommand.h"
#include "canvas/cstrokecommand.h"
#include "colourlayer/czefgraphicsimagemaskitem.h"

#include <QFileInfo>
#include <QGraphicsEllipseItem>
#include <QGraphicsPixmapItem>
#include <QGraphicsRectItem>
#include <QGraphicsScene>
#include <QUndoStack>

#include <utility>

namespace {

constexpr qreal photoZ = 5;
constexpr qreal colourLayerZ = 10;

} // namespace

Document::Document(QGraphicsScene *scene, QUndoStack *history, QObject *parent)
    : QObject(parent)
    , scene(scene)
    , history(history)
{
    connect(history, &QUndoStack::cleanChanged, this, [this](bool clean) {
        if (hasPhoto())
            emit modifiedChanged(!clean);
    });
}

// The items belong to the scene.
Document::~Document() = default;

bool Document::isModified() const
{
    return hasPhoto() && !history->isClean();
}

QPixmap Document::pixmapFor(const QImage &photo)
{
    return QPixmap::fromImage(photo);
}

QImage Document::allocate(const QSize &size, QImage::Format format)
{
    return QImage(size, format);
}

Document::OpenResult Document::open(const QString &fileName)
{
    PhotoFile file(fileName);
    if (!file.read()) {
        lastError = file.errorString();
        lastRefusedSize = QSize();
        return OpenResult::Unreadable;
    }
    QImage image = file.takePhoto();
    QImage original = file.original();

    // Everything the new photo needs, before anything of the current one goes.
    QPixmap pixmap = pixmapFor(image);
    QImage layerImage;
    QImage smoothedImage;
    if (!pixmap.isNull())
        layerImage = allocate(image.size(), CZefGraphicsImageMaskItem::layerFormat);
    if (!layerImage.isNull())
        smoothedImage = allocate(image.size(), CZefGraphicsImageMaskItem::smoothedFormat);
    if (smoothedImage.isNull()) {
        lastRefusedSize = image.size();
        return OpenResult::OutOfMemory;
    }
    lastRefusedSize = QSize();

    // Where the pixmap keeps the photo's own format it holds the same pixels;
    // sharing them saves a whole copy of a possibly very large photo.
    const QImage shown = pixmap.toImage();
    photoImage = shown.format() == image.format() ? shown : std::move(image);
    image = QImage();
    photoOriginal = std::move(original);

    if (pixmapItem)
        pixmapItem->setPixmap(pixmap);
    else
        pixmapItem = scene->addPixmap(pixmap);
    pixmapItem->setZValue(photoZ);

    if (!layer)
        layer = new CZefGraphicsImageMaskItem();
    // Cannot fail: both images are allocated, of the photo's size.
    layer->init(std::move(layerImage), std::move(smoothedImage), QColor(Qt::red).rgba(),
                QColor(Qt::transparent).rgba());
    if (layer->scene() != scene)
        scene->addItem(layer);
    layer->setZValue(colourLayerZ);

    // The scene is the photo and nothing else: the brush cursor and strokes
    // past the border must not widen what the view scrolls over.
    scene->setSceneRect(0, 0, photoImage.width(), photoImage.height());

    photoFileName = fileName;
    history->clear(); // says the work is clean again where it was not
    removeMarks(); // they marked the earlier photo
    emit opened(fileName);
    return OpenResult::Opened;
}

bool Document::save(const QString &fileName)
{
    if (!hasPhoto())
        return false;
    PhotoFile file(fileName);
    if (!file.write(photoImage, photoOriginal, *layer->maskImage)) {
        lastError = file.errorString();
        return false;
    }
    history->setClean();
    return true;
}

void Document::paint(QList<QPoint> newfg, QList<QPoint> newbg)
{
    if (layer)
        layer->updateMaskFromImage(std::move(newfg), std::move(newbg), &photoImage);
}

void Document::paintSpans(const RowSpans &newfg, const RowSpans &newbg)
{
    if (layer)
        layer->updateSpansFromImage(newfg, newbg, &photoImage);
}

void Document::beginStroke(bool erase)
{
    if (!layer)
        return;
    strokeErases = erase;
    layer->beginRecording(CStrokeCommand::historyBytes);
}

bool Document::endStroke()
{
    if (!layer || !layer->isRecording())
        return true;
    LayerTileRecord record = layer->endRecording();
    if (record.overflowed()) {
        endHistory();
        return false;
    }
    if (record.isEmpty())
        return true; // nothing on the photo changed
    history->push(new CStrokeCommand(layer, std::move(record), strokeErases));
    CStrokeCommand::limitHistory(history);
    return true;
}

bool Document::fill(const RowSpans &region)
{
    if (!layer)
        return false;
    layer->beginRecording(CStrokeCommand::historyBytes);
    layer->updateSpansFromImage(region, {}, &photoImage);
    LayerTileRecord record = layer->endRecording();
    if (record.overflowed()) {
        endHistory();
        removeMarks(); // used up, with no step that could bring them back
        return false;
    }
    auto *step = new QUndoCommand(tr("fill"));
    new CStrokeCommand(layer, std::move(record), tr("fill"), step);
    new CHideMarksCommand(scene, step);
    history->push(step);
    CStrokeCommand::limitHistory(history);
    return true;
}

bool Document::restoreColouring(const QImage &colouring)
{
    if (!layer || layer->maskImage->size() != colouring.size()
        || colouring.format() != QImage::Format_ARGB32)
        return false;
    LayerTileRecord record(colouring.size());
    record.capture(colouring, colouring.rect());
    if (record.overflowed())
        return false;
    layer->swapRecord(record);
    history->push(new CStrokeCommand(layer, std::move(record), tr("recovery")));
    CStrokeCommand::limitHistory(history);
    return true;
}

void Document::endHistory()
{
    // Older steps would restore pixels that an unrecorded change painted
    // over, so the history ends here; the work stays unsaved.
    history->clear();
    history->resetClean();
}

void Document::removeMarks()
{
    // Once the history is cleared no command refers to a mark: the scene owns
    // them all.
    const QList<QGraphicsItem *> items = scene->items();
    for (QGraphicsItem *item : items) {
        if (item->type() == QGraphicsRectItem::Type || item->type() == QGraphicsEllipseItem::Type) {
            scene->removeItem(item);
            delete item;
        }
    }
}

QList<QPoint> Document::markedPixels(const QList<int> &indices) const
{
    QList<QPoint> pixels;
    const int width = photoImage.width();
    if (width <= 0)
        return pixels;
    pixels.reserve(indices.size());
    for (const int index : indices)
        pixels.append(QPoint(index % width, index / width));
    return pixels;
}
