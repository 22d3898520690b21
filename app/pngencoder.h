#ifndef PNGENCODER_H
#define PNGENCODER_H

#include "app/photometadata.h"
#include "app/saveprogress.h"

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
    // The compression, chosen by measurement on photos (see bench/savebench):
    // zlib level 3 with every filter tried per row writes a camera-sized photo
    // four times as fast as zlib's default level, for a file a few per cent
    // larger.
    static constexpr int defaultLevel = 3;

    explicit PngEncoder(QIODevice *device);

    void setMetadata(const PhotoMetadata &metadata) { meta = metadata; }
    void setCompressionLevel(int level) { compression = level; }
    // A mask of spng_filter_choice values.
    void setFilters(int choice) { filters = choice; }

    // False when the device refuses a write, the encoder fails, or `progress`
    // says stop; errorString() then says why, except for a stop, whose reason
    // the progress holds.
    bool write(const QImage &image, const ProgressSpan &progress = ProgressSpan());

    QString errorString() const { return message; }
    bool deviceFailed() const { return ioFailed; }
    // Sentences about metadata that was left out.
    QStringList notes() const { return dropped; }

private:
    QIODevice *device;
    PhotoMetadata meta;
    int compression = defaultLevel;
    int filters;
    QString message;
    QStringList dropped;
    bool ioFailed = false;
};

#endif // PNGENCODER_H
