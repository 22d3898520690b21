#ifndef PNGENCODER_H
#define PNGENCODER_H

#include "app/photometadata.h"
#include "app/saveprogress.h"
#include "imaging/layersnapshot.h"

#include <QCoreApplication>
#include <QImage>
#include <QString>
#include <QStringList>

class QIODevice;

// Writes an image as PNG onto a device, a row at a time: grey, palette, RGB
// or RGBA after the image's format, 16 bits per channel where the format is
// deeper than 8, so that reading the file back gives the same pixels. The
// photo's EXIF, XMP and colour profile go into their standard chunks where
// given; one that cannot be written is left out with a note, never failing
// the write.
class PngEncoder
{
    Q_DECLARE_TR_FUNCTIONS(PngEncoder)

public:
    // The compression, chosen by measurement on a 24-megapixel mosaic of real
    // photos, half coloured (bench/savebench): zlib level 2 with the "up"
    // filter on every row took 1.1 s of processor time for a file 5 % larger
    // than the toolkit's writer made in 5.7 s; every filter tried per row
    // cost twice the time for 2 % less, higher levels more still. Smaller
    // images, where time hardly matters and flat areas favour other
    // filters, get zlib's default level and every filter.
    static constexpr int largeLevel = 2;
    static constexpr int smallLevel = 6;
    static constexpr qint64 largePixels = 4'000'000;

    explicit PngEncoder(QIODevice *device);

    void setMetadata(const PhotoMetadata &metadata) { meta = metadata; }
    // Overrides the choice by size.
    void setCompressionLevel(int level) { compression = level; }
    // A mask of spng_filter_choice values.
    void setFilters(int choice) { filters = choice; }

    // False when the device refuses a write, the encoder fails, or `progress`
    // says stop; errorString() then says why, except for a stop, whose reason
    // the progress holds.
    bool write(const QImage &image, const ProgressSpan &progress = ProgressSpan());
    // The same for a colour layer read from its snapshot a row at a time,
    // as RGBA: no copy of the whole layer is made.
    bool write(const LayerSnapshot &layer, const ProgressSpan &progress = ProgressSpan());

    QString errorString() const { return message; }
    bool deviceFailed() const { return ioFailed; }
    // Sentences about metadata that was left out.
    QStringList notes() const { return dropped; }

    // How the rows become PNG rows; made and read in the source alone.
    struct Plan;

private:
    // Forgets the last write's outcome; false, with the reason, when there is
    // nothing to write.
    bool start(bool nothing);
    bool encode(const Plan &plan, const ProgressSpan &progress);

    QIODevice *device;
    PhotoMetadata meta;
    int compression = -1;
    int filters = -1;
    QString message;
    QStringList dropped;
    bool ioFailed = false;
};

#endif // PNGENCODER_H
