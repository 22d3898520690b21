#include "app/heifreader.h"

#include <libheif/heif.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace {

struct ContextDeleter {
    void operator()(heif_context *context) const { heif_context_free(context); }
};
struct HandleDeleter {
    void operator()(heif_image_handle *handle) const { heif_image_handle_release(handle); }
};
struct ImageDeleter {
    void operator()(heif_image *image) const { heif_image_release(image); }
};
struct OptionsDeleter {
    void operator()(heif_decoding_options *options) const { heif_decoding_options_free(options); }
};

QByteArray metadataBlock(const heif_image_handle *handle, heif_item_id id)
{
    const size_t size = heif_image_handle_get_metadata_size(handle, id);
    // A block larger than any real one is a damaged or hostile file.
    if (size == 0 || size > 64 * 1024 * 1024)
        return QByteArray();
    QByteArray block(qsizetype(size), Qt::Uninitialized);
    if (heif_image_handle_get_metadata(handle, id, block.data()).code != heif_error_Ok)
        return QByteArray();
    return block;
}

// The EXIF block as stored starts with the offset of its TIFF header.
QByteArray tiffPart(const QByteArray &block)
{
    if (block.size() < 4)
        return QByteArray();
    const quint32 offset = (quint32(uchar(block[0])) << 24) | (quint32(uchar(block[1])) << 16)
        | (quint32(uchar(block[2])) << 8) | quint32(uchar(block[3]));
    if (offset > quint32(block.size() - 4))
        return QByteArray();
    return block.mid(4 + qsizetype(offset));
}

PhotoMetadata metadataOf(const heif_image_handle *handle)
{
    PhotoMetadata metadata;
    const int count = heif_image_handle_get_number_of_metadata_blocks(handle, nullptr);
    std::vector<heif_item_id> ids(size_t(std::clamp(count, 0, 64)));
    heif_image_handle_get_list_of_metadata_block_IDs(handle, nullptr, ids.data(), int(ids.size()));
    for (const heif_item_id id : ids) {
        const QByteArray type = heif_image_handle_get_metadata_type(handle, id);
        const QByteArray content = heif_image_handle_get_metadata_content_type(handle, id);
        if (type == "Exif" && metadata.exif.isEmpty())
            metadata.exif = tiffPart(metadataBlock(handle, id));
        else if (type == "mime" && content == "application/rdf+xml" && metadata.xmp.isEmpty())
            metadata.xmp = metadataBlock(handle, id);
    }
    const heif_color_profile_type profile = heif_image_handle_get_color_profile_type(handle);
    if (profile == heif_color_profile_type_prof || profile == heif_color_profile_type_rICC) {
        const size_t size = heif_image_handle_get_raw_color_profile_size(handle);
        if (size > 0 && size <= 16 * 1024 * 1024) {
            QByteArray icc(qsizetype(size), Qt::Uninitialized);
            if (heif_image_handle_get_raw_color_profile(handle, icc.data()).code == heif_error_Ok)
                metadata.icc = icc;
        }
    }
    return metadata;
}

} // namespace

bool HeifReader::canRead(const QByteArray &data)
{
    if (data.size() < 12)
        return false;
    return heif_check_filetype(reinterpret_cast<const uint8_t *>(data.constData()),
                               int(std::min<qsizetype>(data.size(), 64)))
        == heif_filetype_yes_supported;
}

bool HeifReader::read(const QByteArray &data, qint64 allocationLimit)
{
    decoded = QImage();
    meta = PhotoMetadata();
    pictureSize = QSize();
    failure = NoError;
    message.clear();
    if (!canRead(data))
        return fail(NotHeif);

    std::unique_ptr<heif_context, ContextDeleter> context(heif_context_alloc());
    if (!context)
        return fail(NotEnoughMemory);
    // The library keeps pointers into the data, which outlives the context.
    heif_error error =
        heif_context_read_from_memory_without_copy(context.get(), data.constData(), size_t(data.size()), nullptr);
    if (error.code != heif_error_Ok)
        return fail(Damaged, QString::fromUtf8(error.message));
    heif_image_handle *rawHandle = nullptr;
    error = heif_context_get_primary_image_handle(context.get(), &rawHandle);
    std::unique_ptr<heif_image_handle, HandleDeleter> handle(rawHandle);
    if (error.code != heif_error_Ok)
        return fail(Damaged, QString::fromUtf8(error.message));

    // The size as shown, after any turn the file asks for.
    pictureSize = QSize(heif_image_handle_get_width(handle.get()), heif_image_handle_get_height(handle.get()));
    if (pictureSize.isEmpty())
        return fail(Damaged);
    const bool alpha = heif_image_handle_has_alpha_channel(handle.get());
    const bool deep = heif_image_handle_get_luma_bits_per_pixel(handle.get()) > 8;
    const qint64 bytes = qint64(pictureSize.width()) * pictureSize.height() * (deep ? 8 : 4);
    if (allocationLimit > 0 && bytes > allocationLimit)
        return fail(TooLarge);

    std::unique_ptr<heif_decoding_options, OptionsDeleter> options(heif_decoding_options_alloc());
    const heif_chroma chroma = deep ? (alpha ? heif_chroma_interleaved_RRGGBBAA_LE : heif_chroma_interleaved_RRGGBB_LE)
                                    : (alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB);
    heif_image *rawImage = nullptr;
    error = heif_decode_image(handle.get(), &rawImage, heif_colorspace_RGB, chroma, options.get());
    std::unique_ptr<heif_image, ImageDeleter> picture(rawImage);
    if (error.code == heif_error_Memory_allocation_error)
        return fail(NotEnoughMemory);
    if (error.code != heif_error_Ok || !picture)
        return fail(Damaged, QString::fromUtf8(error.message));

    int stride = 0;
    const uint8_t *plane = heif_image_get_plane_readonly(picture.get(), heif_channel_interleaved, &stride);
    const int w = heif_image_get_width(picture.get(), heif_channel_interleaved);
    const int h = heif_image_get_height(picture.get(), heif_channel_interleaved);
    if (!plane || w <= 0 || h <= 0)
        return fail(Damaged);
    pictureSize = QSize(w, h);

    QImage image;
    if (!deep) {
        const QImage view(plane, w, h, stride, alpha ? QImage::Format_RGBA8888 : QImage::Format_RGB888);
        image = view.convertToFormat(alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    } else {
        // Samples of `bits` bits, little-endian, widened to 16.
        const int bits =
            std::clamp(heif_image_get_bits_per_pixel_range(picture.get(), heif_channel_interleaved), 9, 16);
        const int channels = alpha ? 4 : 3;
        image = QImage(w, h, alpha ? QImage::Format_RGBA64 : QImage::Format_RGBX64);
        if (!image.isNull()) {
            const quint32 top = (1u << bits) - 1;
            for (int y = 0; y < h; ++y) {
                const uint8_t *in = plane + qsizetype(y) * stride;
                auto *out = reinterpret_cast<QRgba64 *>(image.scanLine(y));
                for (int x = 0; x < w; ++x, in += 2 * channels) {
                    const auto sample = [&](int c) {
                        const quint32 v = std::min<quint32>(quint32(in[2 * c]) | (quint32(in[2 * c + 1]) << 8), top);
                        return quint16((v * 65535 + top / 2) / top);
                    };
                    out[x] = QRgba64::fromRgba64(sample(0), sample(1), sample(2), alpha ? sample(3) : 65535);
                }
            }
        }
    }
    if (image.isNull())
        return fail(NotEnoughMemory);
    decoded = std::move(image);
    meta = metadataOf(handle.get());
    return true;
}

bool HeifReader::fail(Error error, const QString &text)
{
    failure = error;
    message = text;
    return false;
}
