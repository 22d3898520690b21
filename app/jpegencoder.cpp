#include "app/jpegencoder.h"

#include <QIODevice>

#include <turbojpeg.h>

#include <algorithm>
#include <memory>

namespace {

// A segment's length field counts itself, so its data holds at most this.
constexpr int segmentData = 65533;

const QByteArray exifSignature("Exif\0\0", 6);
const QByteArray xmpSignature("http://ns.adobe.com/xap/1.0/\0", 29);
const QByteArray iccSignature("ICC_PROFILE\0", 12);

QByteArray segment(uchar marker, const QByteArray &data)
{
    QByteArray out;
    out.reserve(data.size() + 4);
    out.append(char(0xFF));
    out.append(char(marker));
    const int length = int(data.size()) + 2;
    out.append(char(length >> 8));
    out.append(char(length & 0xFF));
    out.append(data);
    return out;
}

struct HandleDeleter {
    void operator()(void *handle) const { tjDestroy(handle); }
};

struct BufferDeleter {
    void operator()(unsigned char *buffer) const { tjFree(buffer); }
};

// Where the metadata goes: after the start of the image and the JFIF
// header that follows it, if any.
qsizetype insertionPoint(const unsigned char *jpeg, unsigned long size)
{
    if (size >= 6 && jpeg[2] == 0xFF && jpeg[3] == 0xE0)
        return std::min<qsizetype>(qsizetype(size), 4 + ((jpeg[4] << 8) | jpeg[5]));
    return 2;
}

} // namespace

JpegEncoder::JpegEncoder(QIODevice *device)
    : device(device)
{ }

QByteArray JpegEncoder::metadataSegments(const PhotoMetadata &metadata, const QSize &size, bool colour,
                                         QStringList *notes)
{
    QByteArray out;
    const QByteArray exif = metadata.uprightExif(size, notes);
    if (!exif.isEmpty()) {
        if (exif.size() + exifSignature.size() <= segmentData)
            out += segment(0xE1, exifSignature + exif);
        else if (notes)
            notes->append(tr("The photo's EXIF data is too large for a JPEG file and was left out."));
    }
    const QByteArray xmp = metadata.uprightXmp(notes);
    if (!xmp.isEmpty()) {
        if (xmp.size() + xmpSignature.size() <= segmentData)
            out += segment(0xE1, xmpSignature + xmp);
        else if (notes)
            notes->append(tr("The photo's XMP data is too large for a JPEG file and was left out."));
    }
    // A profile is split over numbered segments, at most 255 of them.
    const QByteArray icc = metadata.iccFor(colour, notes);
    const int chunk = segmentData - int(iccSignature.size()) - 2;
    const qsizetype count = (icc.size() + chunk - 1) / chunk;
    if (count > 255) {
        if (notes)
            notes->append(tr("The photo's colour profile is too large for a JPEG file and was left out."));
    } else {
        for (qsizetype i = 0; i < count; ++i) {
            QByteArray data = iccSignature;
            data.append(char(i + 1));
            data.append(char(count));
            data.append(icc.mid(i * chunk, chunk));
            out += segment(0xE2, data);
        }
    }
    return out;
}

bool JpegEncoder::write(const QImage &source, const ProgressSpan &progress)
{
    message.clear();
    dropped.clear();
    beyondLimit = false;
    if (source.width() > largestSide || source.height() > largestSide) {
        beyondLimit = true;
        message = tr("JPG cannot hold this image (%1 x %2 pixels)").arg(source.width()).arg(source.height());
        return false;
    }
    const bool grey = source.format() == QImage::Format_Grayscale8;
    const QImage image = grey || source.format() == QImage::Format_RGB32 || source.format() == QImage::Format_ARGB32
        ? source
        : source.convertToFormat(QImage::Format_RGB32);
    if (image.isNull()) {
        message = tr("there is not enough memory to convert the image");
        return false;
    }
    if (!progress.step(0, 1))
        return false;

    std::unique_ptr<void, HandleDeleter> handle(tjInitCompress());
    if (!handle) {
        message = tr("there is not enough memory to encode the image");
        return false;
    }
    unsigned char *out = nullptr;
    unsigned long size = 0;
    // RGB32 is B, G, R, X in memory on the little-endian machines Qt runs on
    // here; Qt keeps the same word order on big-endian ones.
    const int pixelFormat = grey ? TJPF_GRAY : (QSysInfo::ByteOrder == QSysInfo::LittleEndian ? TJPF_BGRX : TJPF_XRGB);
    const int result =
        tjCompress2(handle.get(), image.constBits(), image.width(), int(image.bytesPerLine()), image.height(),
                    pixelFormat, &out, &size, grey ? TJSAMP_GRAY : TJSAMP_444, quality, 0);
    std::unique_ptr<unsigned char, BufferDeleter> encoded(out);
    if (result != 0) {
        message =
            tr("the image cannot be written as JPG (%1)").arg(QString::fromLocal8Bit(tjGetErrorStr2(handle.get())));
        return false;
    }
    if (!progress.step(9, 10))
        return false;

    const QByteArray metadata = metadataSegments(meta, image.size(), !grey, &dropped);
    const qsizetype at = insertionPoint(out, size);
    const auto put = [this](const char *data, qint64 length) {
        return length == 0 || device->write(data, length) == length;
    };
    if (!put(reinterpret_cast<const char *>(out), at) || !put(metadata.constData(), metadata.size())
        || !put(reinterpret_cast<const char *>(out) + at, qint64(size) - at)) {
        message = device->errorString();
        return false;
    }
    return progress.step(1, 1);
}
