#ifndef PHOTOFILE_H
#define PHOTOFILE_H

#include "app/photometadata.h"
#include "app/saveprogress.h"
#include "imaging/layersnapshot.h"

#include <QCoreApplication>
#include <QImage>
#include <QSize>
#include <QString>
#include <QStringList>

class QMimeData;

#include <memory>
#include <utility>

// One photo file on disk, read into the forms the program works with or
// written from a photo and its colour layer. Reading refuses anything but a
// regular file before opening it (a named pipe would block the program),
// applies the EXIF orientation, puts the photo on one pixel grid and gives it
// a pixel format the colouriser reads from the scan line; pixels deeper than
// 8 bits per channel are kept aside, since a PNG save writes them back at 16
// bits. HEIF photos (phones' HEIC) are read too. The photo's EXIF, XMP and
// colour profile are kept and written into saved JPG and PNG files, with the
// orientation set upright since the pixels are. Every failure leaves a
// message for the user in errorString().
class QIODevice;

class PhotoFile
{
    Q_DECLARE_TR_FUNCTIONS(PhotoFile)

public:
    enum Error {
        NoError,
        NoSuchFile,
        NotRegularFile,
        NotAnImage,
        TooLarge,
        NotEnoughMemory,
        CannotWrite,
    };

    explicit PhotoFile(const QString &fileName);

    QString fileName() const { return name; }

    // Reads the file; on failure photo() and original() are null.
    bool read();
    // The photo in Format_Grayscale8, Format_Indexed8, Format_RGB32,
    // Format_ARGB32 or Format_RGB888, at device pixel ratio 1.
    const QImage &photo() const { return readPhoto; }
    // Hands the photo over and leaves photo() null, so that no second
    // reference keeps a large decoded image alive after the caller drops it.
    QImage takePhoto() { return std::exchange(readPhoto, QImage()); }
    // The photo as decoded where it has more than 8 bits per channel; null
    // otherwise.
    const QImage &original() const { return readOriginal; }
    // The photo's EXIF, XMP and colour profile, as far as they could be read.
    const PhotoMetadata &metadata() const { return readMetadata; }

    // Writes `photo` with `layer` drawn over it, in the format the name's
    // suffix names. `original` is the deep photo from original(), or null.
    // JPG is written at quality 100 without chroma subsampling; JPG and PNG
    // carry `metadata`. Safe on a worker thread with implicitly shared
    // copies of the images; `progress`, when given, follows the save and may
    // stop it, which fails it with the progress's reason.
    bool write(const QImage &photo, const QImage &original, const QImage &layer,
               const PhotoMetadata &metadata = PhotoMetadata(), SaveProgress *progress = nullptr);
    // The same, taking the images over and letting each go as soon as the
    // save no longer needs it: the layer once the picture is composed, so
    // that painting on the caller's layer meanwhile need not copy it.
    bool writeReleasing(QImage &&photo, QImage &&original, QImage &&layer, const PhotoMetadata &metadata,
                        SaveProgress *progress = nullptr);
    // The same with the layer read from a snapshot of the colour layer,
    // which painting may go on changing meanwhile.
    bool writeReleasing(QImage &&photo, QImage &&original, std::shared_ptr<const LayerSnapshot> layer,
                        const PhotoMetadata &metadata, SaveProgress *progress = nullptr);

    // Encodes an image composed for `format` onto `device`, as write() does
    // after composing; false with `error` on failure. `tooLarge` is set when
    // the format cannot hold an image of this size.
    static bool encode(const QImage &image, const QByteArray &format, const PhotoMetadata &metadata, QIODevice *device,
                       const ProgressSpan &progress, QString *error, QStringList *notes, bool *tooLarge = nullptr);

    Error error() const { return failure; }
    // A sentence for the status bar naming the file and the reason.
    QString errorString() const { return message; }
    // Sentences for the status bar about what a read or a write that worked
    // left out (metadata that could not be read or written).
    QStringList notes() const { return remarks; }

    // What a save in `format` writes: the layer over the photo as the canvas
    // shows it, without an alpha channel where the result is opaque, at 16
    // bits per channel for a deep original saved as PNG.
    static QImage composed(const QImage &photo, const QImage &original, const QImage &layer, const QByteArray &format);
    // The same, reading the layer a band of rows at a time.
    static QImage composed(const QImage &photo, const QImage &original, const LayerSnapshot &layer,
                           const QByteArray &format);
    // `image` in a format the colouriser reads from the scan line, converted
    // only when it is not one already.
    static QImage readableForm(const QImage &image);
    static bool hasDeepChannels(QImage::Format format);
    // The Open dialog's filter: every format the installed readers decode
    // (HEIF included) first, then the common photo formats, then every file.
    static QString openFilter();
    // "png" from a file dialog's filter "PNG Files (*.png)".
    static QString suffixOfFilter(const QString &filter);
    // The one local file a drop carries; empty for anything else.
    static QString droppedFile(const QMimeData *data);

private:
    bool readHeif(const QByteArray &data);
    // Takes the decoded photo as photo() and, where deep, original().
    bool keep(QImage image);
    // Each records the failure and returns false.
    bool fail(Error error, const QString &text);
    bool failRead(Error error, const QString &reason);
    bool failRead(Error error, const QString &reason, const QSize &size);
    bool failWrite(const QString &reason);

    QString name;
    QImage readPhoto;
    QImage readOriginal;
    PhotoMetadata readMetadata;
    Error failure = NoError;
    QString message;
    QStringList remarks;
};

#endif // PHOTOFILE_H
