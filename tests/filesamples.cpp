#include "filesamples.h"

#include <QBuffer>
#include <QColorSpace>
#include <QFile>

#include <exiv2/exiv2.hpp>
#include <libheif/heif.h>
#include <zip.h>

#include <cstring>

namespace FileSamples {

QImage realPhoto(const QString &name)
{
    return QImage(QStringLiteral("/usr/lib/python3/dist-packages/skimage/data/") + name);
}

QByteArray cameraExif(int orientation, const QSize &stored, int padding)
{
    Exiv2::ExifData data;
    data["Exif.Image.Make"] = "Fendrel Optics";
    data["Exif.Image.Model"] = "FX-100";
    data["Exif.Image.Orientation"] = uint16_t(orientation);
    data["Exif.Photo.DateTimeOriginal"] = "2019:07:14 16:32:05";
    data["Exif.Photo.PixelXDimension"] = uint32_t(stored.width());
    data["Exif.Photo.PixelYDimension"] = uint32_t(stored.height());
    if (padding > 0) {
        for (const char *key : {"Exif.Image.ImageDescription", "Exif.Image.Artist", "Exif.Image.Copyright"})
            data[key] = std::string(size_t(padding), 'x');
    }
    if (padding > 0) {
        // Written as a TIFF structure, which has no room limit, unlike the
        // JPEG-minded encoder.
        Exiv2::MemIo io;
        Exiv2::TiffParser::encode(io, nullptr, 0, Exiv2::bigEndian, data, Exiv2::IptcData(), Exiv2::XmpData());
        return QByteArray(reinterpret_cast<const char *>(io.mmap()), qsizetype(io.size()));
    }
    Exiv2::Blob blob;
    Exiv2::ExifParser::encode(blob, Exiv2::bigEndian, data);
    return QByteArray(reinterpret_cast<const char *>(blob.data()), qsizetype(blob.size()));
}

QByteArray editorXmp(int orientation)
{
    Exiv2::XmpData data;
    data["Xmp.dc.title"] = "lang=\"x-default\" Harbour at dusk";
    data["Xmp.xmp.Rating"] = "4";
    if (orientation != 0)
        data["Xmp.tiff.Orientation"] = std::to_string(orientation);
    std::string packet;
    Exiv2::XmpParser::encode(packet, data);
    return QByteArray::fromStdString(packet);
}

QByteArray srgbProfile()
{
    return QColorSpace(QColorSpace::SRgb).iccProfile();
}

PhotoMetadata cameraMetadata(int orientation, const QSize &stored)
{
    PhotoMetadata metadata;
    metadata.exif = cameraExif(orientation, stored);
    metadata.xmp = editorXmp(orientation);
    metadata.icc = srgbProfile();
    return metadata;
}

QByteArray jpegWith(const QImage &image, const PhotoMetadata &metadata)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "jpg", 95);
    const QByteArray plain = buffer.data();
    auto file = Exiv2::ImageFactory::open(reinterpret_cast<const Exiv2::byte *>(plain.constData()), long(plain.size()));
    file->readMetadata();
    Exiv2::ExifData exif;
    Exiv2::ExifParser::decode(exif, reinterpret_cast<const Exiv2::byte *>(metadata.exif.constData()),
                              uint32_t(metadata.exif.size()));
    file->setExifData(exif);
    file->setXmpPacket(metadata.xmp.toStdString());
    file->writeXmpFromPacket(true);
    Exiv2::DataBuf profile(reinterpret_cast<const Exiv2::byte *>(metadata.icc.constData()), long(metadata.icc.size()));
    file->setIccProfile(profile);
    file->writeMetadata();
    Exiv2::BasicIo &io = file->io();
    io.open();
    const Exiv2::DataBuf all = io.read(long(io.size()));
    io.close();
    return QByteArray(reinterpret_cast<const char *>(all.pData_), all.size_);
}

namespace {

heif_error collect(heif_context *, const void *data, size_t size, void *userdata)
{
    static_cast<QByteArray *>(userdata)->append(static_cast<const char *>(data), qsizetype(size));
    return heif_error{heif_error_Ok, heif_suberror_Unspecified, "ok"};
}

} // namespace

QByteArray heicWith(const QImage &stored, int orientation, const PhotoMetadata &metadata)
{
    if (!heif_have_encoder_for_format(heif_compression_HEVC))
        return QByteArray();
    heif_context *context = heif_context_alloc();
    heif_encoder *encoder = nullptr;
    heif_context_get_encoder_for_format(context, heif_compression_HEVC, &encoder);
    heif_encoder_set_lossy_quality(encoder, 92);
    const QImage rgb = stored.convertToFormat(QImage::Format_RGB888);
    heif_image *image = nullptr;
    heif_image_create(rgb.width(), rgb.height(), heif_colorspace_RGB, heif_chroma_interleaved_RGB, &image);
    heif_image_add_plane(image, heif_channel_interleaved, rgb.width(), rgb.height(), 8);
    int stride = 0;
    uint8_t *plane = heif_image_get_plane(image, heif_channel_interleaved, &stride);
    for (int y = 0; y < rgb.height(); ++y)
        std::memcpy(plane + y * stride, rgb.constScanLine(y), size_t(rgb.width()) * 3);
    if (!metadata.icc.isEmpty())
        heif_image_set_raw_color_profile(image, "prof", metadata.icc.constData(), size_t(metadata.icc.size()));
    heif_encoding_options *options = heif_encoding_options_alloc();
    options->image_orientation = heif_orientation(orientation);
    heif_image_handle *handle = nullptr;
    const heif_error encoded = heif_context_encode_image(context, image, encoder, options, &handle);
    QByteArray out;
    if (encoded.code == heif_error_Ok) {
        if (!metadata.exif.isEmpty())
            heif_context_add_exif_metadata(context, handle, metadata.exif.constData(), int(metadata.exif.size()));
        if (!metadata.xmp.isEmpty())
            heif_context_add_XMP_metadata(context, handle, metadata.xmp.constData(), int(metadata.xmp.size()));
        heif_writer writer{1, collect};
        heif_context_write(context, &writer, &out);
    }
    heif_image_handle_release(handle);
    heif_encoding_options_free(options);
    heif_image_release(image);
    heif_encoder_release(encoder);
    heif_context_free(context);
    return out;
}

PhotoMetadata readBack(const QString &fileName)
{
    PhotoMetadata metadata;
    auto file = Exiv2::ImageFactory::open(QFile::encodeName(fileName).toStdString());
    file->readMetadata();
    if (!file->exifData().empty()) {
        Exiv2::Blob blob;
        Exiv2::ExifParser::encode(blob, Exiv2::littleEndian, file->exifData());
        metadata.exif = QByteArray(reinterpret_cast<const char *>(blob.data()), qsizetype(blob.size()));
    }
    metadata.xmp = QByteArray::fromStdString(file->xmpPacket());
    if (file->iccProfileDefined())
        metadata.icc =
            QByteArray(reinterpret_cast<const char *>(file->iccProfile()->pData_), file->iccProfile()->size_);
    return metadata;
}

QByteArray samplingFactors(const QByteArray &jpeg)
{
    // Markers from the start of the image to the first frame header.
    qsizetype at = 2;
    while (at + 4 <= jpeg.size() && uchar(jpeg[at]) == 0xFF) {
        const uchar marker = uchar(jpeg[at + 1]);
        const int length = (uchar(jpeg[at + 2]) << 8) | uchar(jpeg[at + 3]);
        if (marker >= 0xC0 && marker <= 0xC2) {
            const int components = uchar(jpeg[at + 9]);
            QByteArray factors;
            for (int c = 0; c < components; ++c)
                factors.append(jpeg[at + 10 + 3 * c + 1]);
            return factors;
        }
        at += 2 + length;
    }
    return QByteArray();
}

// A zip of the entries in order, made with libzip; the first is stored.
QByteArray zipOf(const Entries &entries)
{
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t *source = zip_source_buffer_create(nullptr, 0, 0, &error);
    zip_t *zip = zip_open_from_source(source, ZIP_TRUNCATE, &error);
    zip_source_keep(source);
    bool first = true;
    for (const auto &[name, data] : entries) {
        zip_source_t *entry = zip_source_buffer(zip, data.constData(), zip_uint64_t(data.size()), 0);
        const zip_int64_t index = zip_file_add(zip, name.constData(), entry, 0);
        zip_set_file_compression(zip, zip_uint64_t(index), first ? ZIP_CM_STORE : ZIP_CM_DEFLATE, first ? 0 : 1);
        first = false;
    }
    zip_close(zip);
    QByteArray out;
    zip_source_open(source);
    zip_source_seek(source, 0, SEEK_END);
    out.resize(qsizetype(zip_source_tell(source)));
    zip_source_seek(source, 0, SEEK_SET);
    zip_source_read(source, out.data(), zip_uint64_t(out.size()));
    zip_source_close(source);
    zip_source_free(source);
    zip_error_fini(&error);
    return out;
}

QByteArray png(const QImage &image)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "png");
    return buffer.data();
}

} // namespace FileSamples
