#include "app/document.h"

#include "canvas/cstrokecommand.h"
#include "colourlayer/czefgraphicsimagemaskitem.h"

#include <QFileInfo>
#include <QGraphicsPixmapItem>
#include <QGraphicsScene>
#include <QImageReader>
#include <QImageWriter>
#include <QPainter>
#include <QSaveFile>
#include <QUndoStack>

#include <utility>

namespace {

constexpr qreal photoZ = 5;
constexpr qreal colourLayerZ = 10;

// Reading and writing the files themselves: everything else here works on
// images in memory.

// The photo in the file; null when it cannot be read. *tooLarge tells a photo
// that could not be read for want of memory from one that is no image.
QImage readPhoto(const QString &fileName, QSize *size, bool *tooLarge)
{
    QImageReader reader(fileName);
    *size = reader.size();
    QImage image = reader.read();
    *tooLarge = false;
    if (image.isNull() && size->isValid() && !size->isEmpty()) {
        // The header was read. Where the reader's own limit allowed the
        // pixels, see whether memory would hold them at all (nothing is
        // written into the probe, so it costs no real memory).
        const QImage::Format format = reader.imageFormat() == QImage::Format_Invalid
            ? QImage::Format_ARGB32
            : reader.imageFormat();
        const qint64 bytes = qint64(size->width()) * size->height()
            * QImage::toPixelFormat(format).bitsPerPixel() / 8;
        const qint64 limit = qint64(QImageReader::allocationLimit()) * 1024 * 1024;
        if (limit == 0 || bytes <= limit)
            *tooLarge = QImage(*size, format).isNull();
    }
    return image;
}

// Writes `image` with the format the name's suffix names, at quality 100.
bool writeImage(const QImage &image, const QString &fileName)
{
    // Refuse before touching the disk when the suffix names no format that
    // can be written.
    const QByteArray format = QFileInfo(fileName).suffix().toLower().toLatin1();
    if (format.isEmpty() || !QImageWriter::supportedImageFormats().contains(format))
        return false;

    // Written beside the target and renamed over it only when complete, so a
    // failed or interrupted save leaves an existing file of that name intact.
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QImageWriter writer(&file, format);
    writer.setQuality(100);
    if (!writer.write(image)) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

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
    QSize size;
    bool tooLarge = false;
    QImage image = readPhoto(fileName, &size, &tooLarge);
    if (image.isNull()) {
        lastRefusedSize = tooLarge ? size : QSize();
        return tooLarge ? OpenResult::OutOfMemory : OpenResult::Unreadable;
    }

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
    emit opened(fileName);
    return OpenResult::Opened;
}

bool Document::save(const QString &fileName)
{
    if (!hasPhoto())
        return false;

    QImage composed = photoImage.convertToFormat(QImage::Format_ARGB32);
    if (composed.isNull())
        return false;
    {
        QPainter painter(&composed);
        painter.drawImage(0, 0, *layer->maskImage);
    }
    if (!writeImage(composed, fileName))
        return false;
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
        // Older steps would restore pixels this stroke painted over, so the
        // history ends here; the work stays unsaved.
        history->clear();
        history->resetClean();
        return false;
    }
    if (record.isEmpty())
        return true; // nothing on the photo changed
    history->push(new CStrokeCommand(layer, std::move(record), strokeErases));
    CStrokeCommand::limitHistory(history);
    return true;
}
