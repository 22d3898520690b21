#include "app/pngencoder.h"

#include <QIODevice>

#include <spng.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace {

struct ContextDeleter {
    void operator()(spng_ctx *context) const { spng_ctx_free(context); }
};
using Context = std::unique_ptr<spng_ctx, ContextDeleter>;

// How the image's rows become PNG rows.
enum class Layout { Grey8, Grey16, Palette, Rgb8FromRgb32, Rgba8FromArgb32, Rgb8, Rgb16FromRgbx64, Rgba16 };

} // namespace

struct PngEncoder::Plan {
    QImage image; // in one of the formats the layouts read
    Layout layout;
    uint8_t colourType;
    uint8_t depth;
    // Where set, the rows come from here instead of the image.
    const LayerSnapshot *snapshot = nullptr;

    QSize size() const { return snapshot ? snapshot->size() : image.size(); }
};

namespace {

using Plan = PngEncoder::Plan;

Plan planFor(const QImage &source)
{
    switch (source.format()) {
    case QImage::Format_Grayscale8:
        return {source, Layout::Grey8, SPNG_COLOR_TYPE_GRAYSCALE, 8};
    case QImage::Format_Grayscale16:
        return {source, Layout::Grey16, SPNG_COLOR_TYPE_GRAYSCALE, 16};
    case QImage::Format_Indexed8:
        return {source, Layout::Palette, SPNG_COLOR_TYPE_INDEXED, 8};
    case QImage::Format_RGB32:
        return {source, Layout::Rgb8FromRgb32, SPNG_COLOR_TYPE_TRUECOLOR, 8};
    case QImage::Format_ARGB32:
        return {source, Layout::Rgba8FromArgb32, SPNG_COLOR_TYPE_TRUECOLOR_ALPHA, 8};
    case QImage::Format_RGB888:
        return {source, Layout::Rgb8, SPNG_COLOR_TYPE_TRUECOLOR, 8};
    case QImage::Format_RGBX64:
        return {source, Layout::Rgb16FromRgbx64, SPNG_COLOR_TYPE_TRUECOLOR, 16};
    case QImage::Format_RGBA64:
        return {source, Layout::Rgba16, SPNG_COLOR_TYPE_TRUECOLOR_ALPHA, 16};
    default:
        break;
    }
    const bool deep = source.depth() > 32 || source.format() == QImage::Format_BGR30
        || source.format() == QImage::Format_RGB30 || source.format() == QImage::Format_A2BGR30_Premultiplied
        || source.format() == QImage::Format_A2RGB30_Premultiplied;
    if (deep) {
        return source.hasAlphaChannel() ? planFor(source.convertToFormat(QImage::Format_RGBA64))
                                        : planFor(source.convertToFormat(QImage::Format_RGBX64));
    }
    if (source.format() == QImage::Format_Mono || source.format() == QImage::Format_MonoLSB)
        return planFor(source.convertToFormat(QImage::Format_Indexed8));
    return source.hasAlphaChannel() ? planFor(source.convertToFormat(QImage::Format_ARGB32))
                                    : planFor(source.convertToFormat(QImage::Format_RGB32));
}

// The library takes 16-bit samples in the machine's byte order.
void putSample(uchar *out, quint16 v)
{
    std::memcpy(out, &v, sizeof v);
}

// One row of the image in the PNG's sample layout; `read` holds a row of a
// snapshot.
void convertRow(const Plan &plan, int y, uchar *out, std::vector<quint32> &read)
{
    const int w = plan.size().width();
    const uchar *in = nullptr;
    if (plan.snapshot) {
        read.resize(size_t(w));
        plan.snapshot->readRow(y, 0, w - 1, read.data());
        in = reinterpret_cast<const uchar *>(read.data());
    } else {
        in = plan.image.constScanLine(y);
    }
    switch (plan.layout) {
    case Layout::Grey8:
    case Layout::Palette:
        std::memcpy(out, in, size_t(w));
        break;
    case Layout::Rgb8:
        std::memcpy(out, in, size_t(w) * 3);
        break;
    case Layout::Grey16:
        std::memcpy(out, in, size_t(w) * 2);
        break;
    case Layout::Rgb8FromRgb32: {
        const auto *line = reinterpret_cast<const QRgb *>(in);
        for (int x = 0; x < w; ++x, out += 3) {
            out[0] = uchar(qRed(line[x]));
            out[1] = uchar(qGreen(line[x]));
            out[2] = uchar(qBlue(line[x]));
        }
        break;
    }
    case Layout::Rgba8FromArgb32: {
        const auto *line = reinterpret_cast<const QRgb *>(in);
        for (int x = 0; x < w; ++x, out += 4) {
            out[0] = uchar(qRed(line[x]));
            out[1] = uchar(qGreen(line[x]));
            out[2] = uchar(qBlue(line[x]));
            out[3] = uchar(qAlpha(line[x]));
        }
        break;
    }
    case Layout::Rgb16FromRgbx64: {
        const auto *line = reinterpret_cast<const QRgba64 *>(in);
        for (int x = 0; x < w; ++x, out += 6) {
            putSample(out, line[x].red());
            putSample(out + 2, line[x].green());
            putSample(out + 4, line[x].blue());
        }
        break;
    }
    case Layout::Rgba16: {
        const auto *line = reinterpret_cast<const QRgba64 *>(in);
        for (int x = 0; x < w; ++x, out += 8) {
            putSample(out, line[x].red());
            putSample(out + 2, line[x].green());
            putSample(out + 4, line[x].blue());
            putSample(out + 6, line[x].alpha());
        }
        break;
    }
    }
}

int channelsOf(uint8_t colourType)
{
    switch (colourType) {
    case SPNG_COLOR_TYPE_TRUECOLOR:
        return 3;
    case SPNG_COLOR_TYPE_TRUECOLOR_ALPHA:
        return 4;
    default:
        return 1;
    }
}

struct Sink {
    QIODevice *device;
    bool failed = false;
};

int writeToDevice(spng_ctx *, void *user, void *data, size_t length)
{
    auto *sink = static_cast<Sink *>(user);
    if (sink->device->write(static_cast<const char *>(data), qint64(length)) != qint64(length)) {
        sink->failed = true;
        return SPNG_IO_ERROR;
    }
    return 0;
}

} // namespace

PngEncoder::PngEncoder(QIODevice *device)
    : device(device)
{ }

bool PngEncoder::start(bool nothing)
{
    message.clear();
    dropped.clear();
    ioFailed = false;
    if (nothing)
        message = tr("there is no image to write");
    return !nothing;
}

bool PngEncoder::write(const QImage &source, const ProgressSpan &progress)
{
    if (!start(source.isNull()))
        return false;
    const Plan plan = planFor(source);
    if (plan.image.isNull()) {
        message = tr("there is not enough memory to convert the image");
        return false;
    }
    return encode(plan, progress);
}

bool PngEncoder::write(const LayerSnapshot &layer, const ProgressSpan &progress)
{
    if (!start(layer.isNull()))
        return false;
    Plan plan{QImage(), Layout::Rgba8FromArgb32, SPNG_COLOR_TYPE_TRUECOLOR_ALPHA, 8};
    plan.snapshot = &layer;
    return encode(plan, progress);
}

bool PngEncoder::encode(const Plan &plan, const ProgressSpan &progress)
{
    const QSize size = plan.size();
    Context context(spng_ctx_new(SPNG_CTX_ENCODER));
    if (!context) {
        message = tr("there is not enough memory to encode the image");
        return false;
    }
    Sink sink{device};
    spng_ctx *ctx = context.get();
    spng_set_png_stream(ctx, writeToDevice, &sink);
    const bool large = qint64(size.width()) * size.height() >= largePixels;
    const int level = compression >= 0 ? compression : (large ? largeLevel : smallLevel);
    const int choice = filters >= 0 ? filters : (large ? SPNG_FILTER_CHOICE_UP : SPNG_FILTER_CHOICE_ALL);
    spng_set_option(ctx, SPNG_IMG_COMPRESSION_LEVEL, level);
    spng_set_option(ctx, SPNG_FILTER_CHOICE,
                    plan.colourType == SPNG_COLOR_TYPE_INDEXED ? SPNG_DISABLE_FILTERING : choice);

    spng_ihdr header{};
    header.width = uint32_t(size.width());
    header.height = uint32_t(size.height());
    header.bit_depth = plan.depth;
    header.color_type = plan.colourType;
    int error = spng_set_ihdr(ctx, &header);

    if (!error && plan.colourType == SPNG_COLOR_TYPE_INDEXED) {
        // Indices past the end of a short table still need an entry.
        QList<QRgb> table = plan.image.colorTable();
        int highest = 0;
        for (int y = 0; y < plan.image.height(); ++y) {
            const uchar *line = plan.image.constScanLine(y);
            highest = std::max<int>(highest, *std::max_element(line, line + plan.image.width()));
        }
        while (table.size() <= highest)
            table.append(qRgba(0, 0, 0, 255));
        spng_plte palette{};
        spng_trns transparency{};
        palette.n_entries = uint32_t(table.size());
        for (qsizetype i = 0; i < table.size(); ++i) {
            palette.entries[i] = {uchar(qRed(table[i])), uchar(qGreen(table[i])), uchar(qBlue(table[i])), 255};
            transparency.type3_alpha[i] = uchar(qAlpha(table[i]));
            if (qAlpha(table[i]) != 255)
                transparency.n_type3_entries = uint32_t(i + 1);
        }
        error = spng_set_plte(ctx, &palette);
        if (!error && transparency.n_type3_entries > 0)
            error = spng_set_trns(ctx, &transparency);
    }
    if (error) {
        message = tr("the image cannot be written as PNG (%1)").arg(QString::fromUtf8(spng_strerror(error)));
        return false;
    }

    // The metadata: each block that the library refuses is left out.
    const bool colour = plan.colourType != SPNG_COLOR_TYPE_GRAYSCALE;
    QByteArray exif = meta.uprightExif(size, &dropped);
    if (!exif.isEmpty()) {
        spng_exif block{size_t(exif.size()), exif.data()};
        if (spng_set_exif(ctx, &block) != 0)
            dropped.append(tr("The photo's EXIF data could not be written and was left out."));
    }
    QByteArray icc = meta.iccFor(colour, &dropped);
    if (!icc.isEmpty()) {
        spng_iccp profile{};
        std::strcpy(profile.profile_name, "ICC profile");
        profile.profile_len = size_t(icc.size());
        profile.profile = icc.data();
        if (spng_set_iccp(ctx, &profile) != 0)
            dropped.append(tr("The photo's colour profile could not be written and was left out."));
    }
    QByteArray xmp = meta.uprightXmp(&dropped);
    // The library keeps pointers to the text until the image is encoded.
    char empty[] = "";
    if (!xmp.isEmpty()) {
        spng_text text{};
        std::strcpy(text.keyword, "XML:com.adobe.xmp");
        text.type = SPNG_ITXT;
        text.length = size_t(xmp.size());
        text.text = xmp.data();
        text.language_tag = empty;
        text.translated_keyword = empty;
        if (spng_set_text(ctx, &text, 1) != 0)
            dropped.append(tr("The photo's XMP data could not be written and was left out."));
    }

    error = spng_encode_image(ctx, nullptr, 0, SPNG_FMT_PNG, SPNG_ENCODE_PROGRESSIVE | SPNG_ENCODE_FINALIZE);
    const int height = size.height();
    std::vector<uchar> row(size_t(size.width()) * size_t(channelsOf(plan.colourType)) * (plan.depth / 8));
    std::vector<quint32> read;
    for (int y = 0; !error && y < height; ++y) {
        convertRow(plan, y, row.data(), read);
        error = spng_encode_row(ctx, row.data(), row.size());
        // The last row finishes the file: SPNG_EOI says it is complete.
        if (error == SPNG_EOI)
            error = 0;
        if (!error && (y % 64 == 63 || y == height - 1) && !progress.step(y + 1, height))
            return false;
    }
    if (error) {
        ioFailed = sink.failed;
        message = sink.failed
            ? device->errorString()
            : tr("the image cannot be written as PNG (%1)").arg(QString::fromUtf8(spng_strerror(error)));
        return false;
    }
    return true;
}
