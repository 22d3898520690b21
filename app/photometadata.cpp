#include "app/photometadata.h"

#include <QFile>
#include <QMutex>

#include <exiv2/exiv2.hpp>

#include <memory>
#include <mutex>

namespace {

// The library writes its warnings to the standard error; damaged blocks are
// reported through the notes instead. Its XMP toolkit must be set up once
// before threads use it.
void setUpLibrary()
{
    static std::once_flag once;
    std::call_once(once, [] {
        Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
        Exiv2::XmpParser::initialize();
    });
}

const Exiv2::byte *bytesOf(const QByteArray &data)
{
    return reinterpret_cast<const Exiv2::byte *>(data.constData());
}

QByteArray fromBlob(const Exiv2::Blob &blob)
{
    return QByteArray(reinterpret_cast<const char *>(blob.data()), qsizetype(blob.size()));
}

// The block in a form that can be written back, or empty.
QByteArray encodedExif(const Exiv2::ExifData &data, Exiv2::ByteOrder order)
{
    if (data.empty())
        return QByteArray();
    Exiv2::Blob blob;
    Exiv2::ExifParser::encode(blob, order == Exiv2::invalidByteOrder ? Exiv2::littleEndian : order, data);
    return fromBlob(blob);
}

bool startsLikeExif(const QByteArray &exif)
{
    return exif.startsWith("II*\0") || exif.startsWith(QByteArray("MM\0*", 4));
}

PhotoMetadata fromImage(Exiv2::Image &image, QStringList *notes)
{
    PhotoMetadata metadata;
    try {
        image.readMetadata();
    } catch (const std::exception &) {
        if (notes)
            notes->append(PhotoMetadata::tr("The photo's metadata is damaged and was left out."));
        return metadata;
    }
    try {
        metadata.exif = encodedExif(image.exifData(), image.byteOrder());
    } catch (const std::exception &) {
        if (notes)
            notes->append(PhotoMetadata::tr("The photo's EXIF data is damaged and was left out."));
    }
    metadata.xmp = QByteArray::fromStdString(image.xmpPacket());
    if (image.iccProfileDefined()) {
        const Exiv2::DataBuf *profile = image.iccProfile();
        metadata.icc = QByteArray(reinterpret_cast<const char *>(profile->pData_), profile->size_);
    }
    return metadata;
}

} // namespace

PhotoMetadata PhotoMetadata::fromFileData(const QByteArray &data, QStringList *notes)
{
    setUpLibrary();
    try {
        Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(bytesOf(data), long(data.size()));
        if (image.get())
            return fromImage(*image, notes);
    } catch (const std::exception &) {
        // A format the library does not know carries nothing it can read.
    }
    return PhotoMetadata();
}

PhotoMetadata PhotoMetadata::fromFile(const QString &fileName, QStringList *notes)
{
    setUpLibrary();
    try {
        Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(QFile::encodeName(fileName).toStdString());
        if (image.get())
            return fromImage(*image, notes);
    } catch (const std::exception &) { }
    return PhotoMetadata();
}

QByteArray PhotoMetadata::uprightExif(const QSize &size, QStringList *notes) const
{
    if (exif.isEmpty())
        return exif;
    setUpLibrary();
    try {
        if (!startsLikeExif(exif))
            throw Exiv2::Error(Exiv2::kerNotAnImage);
        Exiv2::ExifData data;
        const Exiv2::ByteOrder order = Exiv2::ExifParser::decode(data, bytesOf(exif), uint32_t(exif.size()));
        const auto orientation = data.findKey(Exiv2::ExifKey("Exif.Image.Orientation"));
        bool changed = false;
        if (orientation != data.end() && orientation->toLong() != 1) {
            data["Exif.Image.Orientation"] = uint16_t(1);
            changed = true;
        }
        for (const auto &[key, value] : {std::pair("Exif.Photo.PixelXDimension", size.width()),
                                         std::pair("Exif.Photo.PixelYDimension", size.height())}) {
            const auto found = data.findKey(Exiv2::ExifKey(key));
            if (found != data.end() && found->toLong() != value) {
                data[key] = uint32_t(value);
                changed = true;
            }
        }
        if (!changed)
            return exif;
        // Updated in place where the structure allows, which keeps maker
        // notes where they were.
        QByteArray copy = exif;
        Exiv2::Blob blob;
        const Exiv2::WriteMethod method =
            Exiv2::ExifParser::encode(blob, reinterpret_cast<const Exiv2::byte *>(copy.data()), uint32_t(copy.size()),
                                      order, data);
        return method == Exiv2::wmNonIntrusive ? copy : fromBlob(blob);
    } catch (const std::exception &) {
        if (notes)
            notes->append(tr("The photo's EXIF data could not be rewritten and was left out."));
        return QByteArray();
    }
}

QByteArray PhotoMetadata::uprightXmp(QStringList *notes) const
{
    if (xmp.isEmpty())
        return xmp;
    setUpLibrary();
    try {
        Exiv2::XmpData data;
        if (Exiv2::XmpParser::decode(data, xmp.toStdString()) != 0)
            throw Exiv2::Error(Exiv2::kerErrorMessage, "decode");
        const auto orientation = data.findKey(Exiv2::XmpKey("Xmp.tiff.Orientation"));
        if (orientation == data.end() || orientation->toLong() == 1)
            return xmp;
        orientation->setValue("1");
        std::string packet;
        if (Exiv2::XmpParser::encode(packet, data, Exiv2::XmpParser::useCompactFormat) != 0)
            throw Exiv2::Error(Exiv2::kerErrorMessage, "encode");
        return QByteArray::fromStdString(packet);
    } catch (const std::exception &) {
        if (notes)
            notes->append(tr("The photo's XMP data is damaged and was left out."));
        return QByteArray();
    }
}

QByteArray PhotoMetadata::iccFor(bool colour, QStringList *notes) const
{
    // The header names the colour space of the pixels it describes.
    if (icc.size() < 128)
        return QByteArray();
    const QByteArray space = icc.mid(16, 4);
    if (space == (colour ? QByteArray("RGB ") : QByteArray("GRAY")))
        return icc;
    if (notes) {
        notes->append(colour ? tr("The photo's colour profile is not for colour pictures and was left out.")
                             : tr("The photo's colour profile is not for grey pictures and was left out."));
    }
    return QByteArray();
}

int PhotoMetadata::exifOrientation(const QByteArray &exif)
{
    const QString value = exifValue(exif, "Exif.Image.Orientation");
    bool ok = false;
    const int orientation = value.toInt(&ok);
    return ok ? orientation : 1;
}

QString PhotoMetadata::exifValue(const QByteArray &exif, const char *key)
{
    if (!startsLikeExif(exif))
        return QString();
    setUpLibrary();
    try {
        Exiv2::ExifData data;
        Exiv2::ExifParser::decode(data, bytesOf(exif), uint32_t(exif.size()));
        const auto found = data.findKey(Exiv2::ExifKey(key));
        return found == data.end() ? QString() : QString::fromStdString(found->toString());
    } catch (const std::exception &) {
        return QString();
    }
}
