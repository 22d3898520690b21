#ifndef FILESAMPLES_H
#define FILESAMPLES_H

#include "app/photometadata.h"

#include <QByteArray>
#include <QImage>
#include <QString>

#include <utility>
#include <vector>

// Photo files with metadata for the file tests, made and read back with the
// libraries directly, never through the program's own writers: a real photo
// from the packages' sample data, with EXIF, XMP and ICC as a camera and an
// editor would leave them.
namespace FileSamples {

// A real photo from python3-skimage's data folder, or null where the package
// is missing.
QImage realPhoto(const QString &name);

// EXIF as a camera writes it: date, maker, model, orientation, pixel size;
// with `padding`, three texts of that many characters besides.
QByteArray cameraExif(int orientation, const QSize &stored, int padding = 0);
// An XMP packet with a title and, where not 0, a tiff:Orientation.
QByteArray editorXmp(int orientation);
// A colour profile: sRGB as Qt describes it.
QByteArray srgbProfile();
PhotoMetadata cameraMetadata(int orientation, const QSize &stored);

// A JPEG of `image` (written by Qt) with the metadata put in by Exiv2.
QByteArray jpegWith(const QImage &image, const PhotoMetadata &metadata);
// A HEIC of `stored` with the transformation that turns it upright by
// `orientation`, and the metadata; empty where no HEVC encoder is installed.
QByteArray heicWith(const QImage &stored, int orientation, const PhotoMetadata &metadata);

// The metadata of a saved file as Exiv2 reads it.
PhotoMetadata readBack(const QString &fileName);

// The chroma sampling factors of a JPEG's frame, one byte (h << 4 | v) per
// component; empty where the file has no frame header.
QByteArray samplingFactors(const QByteArray &jpeg);

// An archive's entries in order: name and bytes.
using Entries = std::vector<std::pair<QByteArray, QByteArray>>;
// A zip of the entries in order, made with libzip; the first is stored.
QByteArray zipOf(const Entries &entries);
// A PNG of `image`, written by Qt.
QByteArray png(const QImage &image);

} // namespace FileSamples

#endif // FILESAMPLES_H
