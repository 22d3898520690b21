#ifndef HEIFREADER_H
#define HEIFREADER_H

#include "app/photometadata.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QImage>
#include <QString>

// Decodes the main picture of a HEIF file (what phones save as HEIC) from
// memory, upright as the file's transformations say, with its EXIF, XMP and
// colour profile. Pictures deeper than 8 bits per channel come out at 16.
class HeifReader
{
    Q_DECLARE_TR_FUNCTIONS(HeifReader)

public:
    enum Error { NoError, NotHeif, Damaged, TooLarge, NotEnoughMemory };

    // Whether the bytes start like a HEIF file the library can decode.
    static bool canRead(const QByteArray &data);

    // Decodes; `allocationLimit` (bytes, 0 for none) refuses pictures whose
    // pixels would need more.
    bool read(const QByteArray &data, qint64 allocationLimit);

    const QImage &image() const { return decoded; }
    QImage takeImage() { return std::exchange(decoded, QImage()); }
    const PhotoMetadata &metadata() const { return meta; }
    // The picture's size, where the file got that far.
    QSize size() const { return pictureSize; }
    Error error() const { return failure; }
    // The library's own words, for a damaged file.
    QString errorString() const { return message; }

private:
    bool fail(Error error, const QString &text = QString());

    QImage decoded;
    PhotoMetadata meta;
    QSize pictureSize;
    Error failure = NoError;
    QString message;
};

#endif // HEIFREADER_H
