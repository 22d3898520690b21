#include "app/document.h"

#include "app/hidemarkscommand.h"
#include "app/layercommand.h"
#include "app/markscodec.h"
#include "app/photofile.h"
#include "app/workfile.h"
#include "imaging/colourlayer.h"
#include "imaging/markset.h"
#include "imaging/spreadcolouring.h"

#include <QColor>
#include <QDir>
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
    if (WorkFile::hasWorkFileName(fileName) || WorkFile::looksLikeWorkFile(fileName))
        return openWork(fileName);
    PhotoFile file(fileName);
    if (!file.read()) {
        lastError = file.errorString();
        lastRefusedSize = QSize();
        return OpenResult::Unreadable;
    }
    QImage image = file.takePhoto();
    const OpenResult result = open(std::move(image), file.original(), fileName);
    if (result == OpenResult::Opened) {
        photoMetadata = file.metadata();
        lastNotes = file.notes();
    }
    return result;
}

Document::OpenResult Document::openWork(const QString &fileName)
{
    WorkFile file(fileName);
    QList<Mark> savedMarks;
    QString reason;
    if (!file.read()) {
        lastError = file.errorString();
    } else if (!file.isForeign() && !MarksCodec::decode(file.marks(), &savedMarks, &reason)) {
        lastError = tr("Could not open %1: %2.").arg(QDir::toNativeSeparators(fileName), reason);
    } else {
        QImage colouring = file.takeLayer();
        const OpenResult result = adopt(file.takePhoto(), file.original(), fileName, true);
        if (result != OpenResult::Opened)
            return result;
        photoMetadata = file.metadata();
        lastNotes = file.notes();
        // The saved colouring is where this work starts, not a step of it.
        if (colouring.size() == photoImage.size() && colouring.format() == ColourLayer::format) {
            LayerTileRecord record(colouring.size());
            record.capture(colouring, colouring.rect());
            colouring = QImage();
            if (!record.overflowed())
                layer->swapRecord(record);
        }
        for (Mark mark : std::as_const(savedMarks)) {
            // Used up by a fill before the save: hidden under a tag no step owns.
            if (mark.isHidden())
                mark.hiddenBy = MarkSet::newTag();
            markSet->insert(mark);
        }
        return result;
    }
    lastRefusedSize = QSize();
    return OpenResult::Unreadable;
}

Document::OpenResult Document::open(QImage image, QImage original, const QString &fileName)
{
    return adopt(std::move(image), std::move(original), fileName, false);
}

Document::OpenResult Document::adopt(QImage image, QImage original, const QString &fileName, bool work)
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
    layer->init(std::move(layerImage), std::move(smoothedImage), openingBrushColour, QColor(Qt::transparent).rgba());
    photoFileName = fileName;
    photoMetadata = PhotoMetadata();
    lastNotes.clear();
    openedWork = work;
    emit photoChanged();
    emit opened(fileName);
    return OpenResult::Opened;
}

bool Document::save(const QString &fileName)
{
    if (!hasPhoto())
        return false;
    const Snapshot work = snapshot();
    if (WorkFile::hasWorkFileName(fileName)) {
        WorkFile file(fileName);
        if (!file.writeReleasing(QImage(work.photo), QImage(work.original), work.layer, work.marks, work.metadata)) {
            lastError = file.errorString();
            return false;
        }
    } else {
        PhotoFile file(fileName);
        if (!file.writeReleasing(QImage(work.photo), QImage(work.original), work.layer, work.metadata)) {
            lastError = file.errorString();
            return false;
        }
    }
    setSaved();
    return true;
}

Document::Snapshot Document::snapshot() const
{
    Snapshot work;
    if (!hasPhoto())
        return work;
    work.photo = photoImage;
    work.original = photoOriginal;
    work.layer = layer->snapshot();
    work.marks = MarksCodec::encode(markSet->all());
    work.metadata = photoMetadata;
    return work;
}

void Document::setSaved()
{
    undoHistory->setClean();
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
    if (layer->isStroking())
        layer->paintStroke(CoverageSpans(strokeErases ? newbg : newfg));
    else
        layer->paintSpans(newfg, newbg, &photoImage);
}

void Document::paintShape(const CoverageSpans &shape)
{
    if (layer->isStroking())
        layer->paintStroke(shape);
}

void Document::beginStroke(bool erase)
{
    if (!hasPhoto())
        return;
    stroking = true;
    strokeErases = erase;
    // The stroke keeps the style it began with, whatever changes while it runs.
    StrokeStyle strokeStyle = style();
    strokeStyle.erase = erase;
    layer->beginStroke(strokeStyle, &photoImage, maxHistoryBytes);
}

void Document::endStroke()
{
    if (!stroking)
        return;
    stroking = false;
    auto change = std::make_shared<LayerChange>();
    change->record = layer->endStroke();
    if (change->record.overflowed()) {
        endHistory();
        emit historyLost(tr("This stroke was too large to record: it cannot be undone."));
    } else if (!change->record.isEmpty() && !change->record.matches(layer->image())) {
        // A stroke that left every pixel as it was (an erase over nothing, a
        // stroke off the photo) is no step: the work stays as saved.
        pushChange(new LayerCommand(layer, change, LayerCommand::strokeText(strokeErases)), change);
    }
    emit strokeFinished();
}

void Document::push(QUndoCommand *step)
{
    undoHistory->push(step);
}

bool Document::fill(const CoverageSpans &region)
{
    if (!hasPhoto())
        return false;
    // The region carries its own soft rim, which a stroke honours only when
    // soft; the brush's softness itself has no part in it.
    StrokeStyle fillStyle = style();
    fillStyle.softness = 1;
    layer->beginStroke(fillStyle, &photoImage, maxHistoryBytes);
    layer->paintStroke(region);
    auto change = std::make_shared<LayerChange>();
    change->record = layer->endStroke();
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
