#ifndef PHOTOMETADATA_H
#define PHOTOMETADATA_H

#include <QByteArray>
#include <QCoreApplication>
#include <QSize>
#include <QString>
#include <QStringList>

// What a photo file says about the photo besides its pixels, kept so that a
// saved file says it too: the EXIF block (the TIFF structure, starting with
// its byte order), the XMP packet and the ICC colour profile, each as the
// source held it. Implicitly shared, so copies for a save on a worker thread
// cost nothing.
class PhotoMetadata
{
    Q_DECLARE_TR_FUNCTIONS(PhotoMetadata)

public:
    QByteArray exif;
    QByteArray xmp;
    QByteArray icc;

    bool isEmpty() const { return exif.isEmpty() && xmp.isEmpty() && icc.isEmpty(); }

    // What an encoded photo file (JPEG, PNG, TIFF, WebP, ...) carries. A
    // block that cannot be read is left empty with a sentence in `notes`;
    // reading never fails.
    static PhotoMetadata fromFileData(const QByteArray &data, QStringList *notes = nullptr);
    static PhotoMetadata fromFile(const QString &fileName, QStringList *notes = nullptr);

    // The EXIF block for pixels that stand upright at `size`: orientation 1
    // and the pixel dimensions the file has. Empty, with a note, when the
    // block cannot be rewritten.
    QByteArray uprightExif(const QSize &size, QStringList *notes) const;
    // The XMP packet with any orientation set to 1; unchanged where it says
    // none or says upright already.
    QByteArray uprightXmp(QStringList *notes) const;
    // The profile, when it describes pixels of this kind (grey or colour);
    // otherwise empty with a note.
    QByteArray iccFor(bool colour, QStringList *notes) const;

    // The orientation an EXIF block gives, 1 where it gives none.
    static int exifOrientation(const QByteArray &exif);
    // The text of an EXIF tag by its key ("Exif.Photo.DateTimeOriginal"),
    // empty where it has none.
    static QString exifValue(const QByteArray &exif, const char *key);
};

#endif // PHOTOMETADATA_H
