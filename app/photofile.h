#ifndef PHOTOFILE_H
#define PHOTOFILE_H

#include <QCoreApplication>
#include <QImage>
#include <QSize>
#include <QString>

class QMimeData;

#include <utility>

// One photo file on disk, read into the forms the program works with or
// written from a photo and its colour layer. Reading refuses anything but a
// regular file before opening it (a named pipe would block the program),
// applies the EXIF orientation, puts the photo on one pixel grid and gives it
// a pixel format the colouriser reads from the scan line; pixels deeper than
// 8 bits per channel are kept aside, since a PNG save writes them back at 16
// bits. Every failure leaves a message for the user in errorString().
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

    // Writes `photo` with `layer` drawn over it, in the format the name's
    // suffix names. `original` is the deep photo from original(), or null.
    bool write(const QImage &photo, const QImage &original, const QImage &layer);

    Error error() const { return failure; }
    // A sentence for the status bar naming the file and the reason.
    QString errorString() const { return message; }

    // What a save in `format` writes: the layer over the photo as the canvas
    // shows it, without an alpha channel where the result is opaque, at 16
    // bits per channel for a deep original saved as PNG.
    static QImage composed(const QImage &photo, const QImage &original, const QImage &layer,
                           const QByteArray &format);
    // `image` in a format the colouriser reads from the scan line, converted
    // only when it is not one already.
    static QImage readableForm(const QImage &image);
    static bool hasDeepChannels(QImage::Format format);
    // The Open dialog's filter: every format the installed readers decode
    // first, then the common photo formats, then every file.
    static QString openFilter();
    // "png" from a file dialog's filter "PNG Files (*.png)".
    static QString suffixOfFilter(const QString &filter);
    // The one local file a drop carries; empty for anything else.
    static QString droppedFile(const QMimeData *data);

private:
    // Each records the failure and returns false.
    bool fail(Error error, const QString &text);
    bool failRead(Error error, const QString &reason);
    bool failRead(Error error, const QString &reason, const QSize &size);
    bool failWrite(const QString &reason);

    QString name;
    QImage readPhoto;
    QImage readOriginal;
    Error failure = NoError;
    QString message;
};

#endif // PHOTOFILE_H
