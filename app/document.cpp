#include "app/document.h"

#include "app/hidemarkscommand.h"
#include "app/layercommand.h"
#include "app/photofile.h"
#include "imaging/colourlayer.h"
#include "imaging/markset.h"
#include "imaging/spreadcolouring.h"

#include <QColor>
#include <QUndoStack>

#include <algorithm>
#include <new>
#include <utility>

Document::Document(QObject *parent)
    : CanvasDocument(parent)
    , layer(new ColourLayer(this))
    , markSet(new MarkSet(this))
    , undoHistory(new QUndoStack(this))
{
    connect(undoHistory, &QUndoStack::cleanChanged, this, [this](bool clean) {
        if (hasPhoto())
            emit modifiedChanged(!clean);
    });
}

Document::~Document()
{
    // The commands refer to the layer and the marks; they go first.
    undoHistory->clear();
}

bool Document::isModified() const
{
    return hasPhoto() && !undoHistory->isClean();
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
    return open(std::move(image), file.original(), fileName);
}

Document::OpenResult Document::open(QImage image, QImage original, const QString &fileName)
{
    // Everything the new photo needs, before anything of the current one goes.
    QPixmap shownPixmap = pixmapFor(image);
    QImage layerImage;
    QImage smoothedImage;
    if (!shownPixmap.isNull())
        layerImage = allocate(image.size(), ColourLayer::format);
    if (!layerImage.isNull())
        smoothedImage = allocate(image.size(), ColourLayer::smoothedFormat);
    if (smoothedImage.isNull()) {
        lastRefusedSize = image.size();
        return OpenResult::OutOfMemory;
    }
    lastRefusedSize = QSize();

    // The commands of the old history refer to the old marks and layer.
    undoHistory->clear(); // says the work is clean again where it was not
    changes.clear();
    markSet->clear();
    stroking = false;

    // Where the pixmap keeps the photo's own format it holds the same pixels;
    // sharing them saves a whole copy of a possibly very large photo.
    const QImage shown = shownPixmap.toImage();
    photoImage = shown.format() == image.format() ? shown : std::move(image);
    image = QImage();
    photoOriginal = std::move(original);
    pixmap = std::move(shownPixmap);
    // Cannot fail: both images are allocated, of the photo's size.
    layer->init(std::move(layerImage), std::move(smoothedImage), QColor(Qt::red).rgba(),
                QColor(Qt::transparent).rgba());
    photoFileName = fileName;
    emit photoChanged();
    emit opened(fileName);
    return OpenResult::Opened;
}

bool Document::save(const QString &fileName)
{
    if (!hasPhoto())
        return false;
    PhotoFile file(fileName);
    if (!file.write(photoImage, photoOriginal, layer->image())) {
        lastError = file.errorString();
        return false;
    }
    undoHistory->setClean();
    return true;
}

void Document::setBrushColour(QRgb colour)
{
    layer->setFg(colour);
}

StrokeStyle Document::style() const
{
    StrokeStyle style = brushStyle;
    style.brush = layer->fg();
    return style;
}

void Document::paint(const QList<QPoint> &newfg, const QList<QPoint> &newbg)
{
    layer->paintPoints(newfg, newbg, &photoImage);
}

void Document::paintSpans(const RowSpans &newfg, const RowSpans &newbg)
{
    layer->paintSpans(newfg, newbg, &photoImage);
}

void Document::beginStroke(bool erase)
{
    if (!hasPhoto())
        return;
    stroking = true;
    strokeErases = erase;
    layer->beginRecording(maxHistoryBytes);
}

void Document::endStroke()
{
    if (!stroking)
        return;
    stroking = false;
    auto change = std::make_shared<LayerChange>();
    change->record = layer->endRecording();
    if (change->record.overflowed()) {
        endHistory();
        emit historyLost(tr("This stroke was too large to record: it cannot be undone."));
    } else if (!change->record.isEmpty()) { // else nothing on the photo changed
        pushChange(new LayerCommand(layer, change, LayerCommand::strokeText(strokeErases)), change);
    }
    emit strokeFinished();
}

void Document::push(QUndoCommand *step)
{
    undoHistory->push(step);
}

bool Document::fill(const RowSpans &region)
{
    if (!hasPhoto())
        return false;
    layer->beginRecording(maxHistoryBytes);
    layer->paintSpans(region, {}, &photoImage);
    auto change = std::make_shared<LayerChange>();
    change->record = layer->endRecording();
    if (change->record.overflowed()) {
        endHistory();
        markSet->clear(); // used up, with no step that could bring them back
        return false;
    }
    auto *step = new LayerCommand(layer, change, tr("fill"));
    // Colour marks are the spread's, not the fill's: they stay.
    new HideMarksCommand(markSet, {Mark::Keep, Mark::Remove}, step);
    pushChange(step, change);
    return true;
}

bool Document::spread(const ColourSpread::Chroma &chroma)
{
    if (!hasPhoto() || chroma.level != 0 || chroma.width != photoImage.width() || chroma.height != photoImage.height()
        || layer->image().size() != photoImage.size())
        return false;
    // Every tile the spread may change is kept before anything is written,
    // so that a record that fails leaves the layer as it was. Tiles wholly
    // coloured already are not changed and not kept.
    const QImage &pixels = layer->image();
    const QRgb uncoloured = layer->bg();
    auto change = std::make_shared<LayerChange>();
    change->record = LayerTileRecord(pixels.size());
    change->record.setMaxBytes(maxHistoryBytes);
    constexpr int tile = LayerTileRecord::tileSize;
    for (int ty = 0; ty < pixels.height(); ty += tile) {
        for (int tx = 0; tx < pixels.width(); tx += tile) {
            const QRect area = QRect(tx, ty, tile, tile) & pixels.rect();
            bool open = false;
            for (int y = area.top(); y <= area.bottom() && !open; ++y) {
                const auto *row = reinterpret_cast<const QRgb *>(pixels.constScanLine(y));
                open = std::find(row + area.left(), row + area.right() + 1, uncoloured) != row + area.right() + 1;
            }
            if (open)
                change->record.capture(pixels, area);
            if (change->record.overflowed())
                return false;
        }
    }
    const SpreadColouring colouring(style(), uncoloured);
    try {
        layer->rewrite([&](QImage &image) { colouring.write(photoImage, chroma, image); });
    } catch (const std::bad_alloc &) {
        return false; // before anything was written
    }
    auto *step = new LayerCommand(layer, change, tr("spread"));
    new HideMarksCommand(markSet, {Mark::Colour}, step);
    pushChange(step, change);
    return true;
}

bool Document::restoreColouring(const QImage &colouring)
{
    if (!hasPhoto() || layer->image().size() != colouring.size() || colouring.format() != ColourLayer::format)
        return false;
    auto change = std::make_shared<LayerChange>();
    change->record = LayerTileRecord(colouring.size());
    change->record.capture(colouring, colouring.rect());
    if (change->record.overflowed())
        return false;
    layer->swapRecord(change->record);
    pushChange(new LayerCommand(layer, change, tr("recovery")), change);
    return true;
}

void Document::pushChange(QUndoCommand *step, std::shared_ptr<LayerChange> change)
{
    undoHistory->push(step);
    changes.push_back(change);
    limitHistory();
}

void Document::limitHistory()
{
    // Right after a push every change still alive can be undone: the stack
    // has deleted the undone steps above it. Newest first, the records are
    // kept while they fit; the first that does not fit is given up with
    // everything older, since its tiles would restore pixels that newer steps
    // were painted over.
    changes.erase(std::remove_if(changes.begin(), changes.end(),
                                 [](const std::weak_ptr<LayerChange> &c) { return c.expired(); }),
                  changes.end());
    qint64 total = 0;
    bool over = false;
    for (auto it = changes.rbegin(); it != changes.rend(); ++it) {
        const std::shared_ptr<LayerChange> change = it->lock();
        if (!over) {
            total += change->record.bytes();
            over = total > maxHistoryBytes;
        }
        if (over && !change->givenUp) {
            change->record = LayerTileRecord();
            change->givenUp = true;
        }
    }
}

qint64 Document::historyBytes() const
{
    qint64 total = 0;
    for (const std::weak_ptr<LayerChange> &kept : changes)
        if (const std::shared_ptr<LayerChange> change = kept.lock())
            total += change->record.bytes();
    return total;
}

void Document::endHistory()
{
    // Older steps would restore pixels that an unrecorded change painted
    // over, so the history ends here; the work stays unsaved.
    undoHistory->clear();
    undoHistory->resetClean();
    changes.clear();
}
