#ifndef JPEGENCODER_H
#define JPEGENCODER_H

#include "app/photometadata.h"
#include "app/saveprogress.h"

#include <QCoreApplication>
#include <QImage>
#include <QString>
#include <QStringList>

class QIODevice;

// Writes an image as JPEG at quality 100 without chroma subsampling (4:4:4),
// so that colour edges stay on the pixel they were painted on. The photo's
// EXIF, XMP and colour profile go into their standard APP segments where
// given; one that cannot be written is left out with a note, never failing
// the write. A grey image is written grey.
class JpegEncoder
{
    Q_DECLARE_TR_FUNCTIONS(JpegEncoder)

public:
    // The format's limit on each side.
    static constexpr int largestSide = 65535;

    explicit JpegEncoder(QIODevice *device);

    void setMetadata(const PhotoMetadata &metadata) { meta = metadata; }
    void setQuality(int value) { quality = value; }

    // False when the image is too large for the format, the device refuses a
    // write, or `progress` says stop; errorString() then says why, except for
    // a stop, whose reason the progress holds.
    bool write(const QImage &image, const ProgressSpan &progress = ProgressSpan());

    bool tooLarge() const { return beyondLimit; }
    QString errorString() const { return message; }
    QStringList notes() const { return dropped; }

    // The segments that carry the metadata, ready to follow the JFIF header.
    static QByteArray metadataSegments(const PhotoMetadata &metadata, const QSize &size, bool colour,
                                       QStringList *notes);

private:
    QIODevice *device;
    PhotoMetadata meta;
    int quality = 100;
    bool beyondLimit = false;
    QString message;
    QStringList dropped;
};

#endif // JPEGENCODER_H
