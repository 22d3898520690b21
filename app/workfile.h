#ifndef WORKFILE_H
#define WORKFILE_H

#include "app/photometadata.h"
#include "app/saveprogress.h"
#include "imaging/layersnapshot.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QImage>
#include <QString>
#include <QStringList>

#include <memory>
#include <utility>

// A work file: the photo, its colour layer and the marks, in OpenRaster
// (.ora), the layered format painting programs share. A zip whose first
// entry is "mimetype" (stored), then stack.xml, the photo as a PNG layer at
// its own depth, the colour layer as a PNG layer with alpha above it,
// mergedimage.png (byte for byte what a flat PNG save writes) and a
// thumbnail; the marks, as the document serialises them, and the photo's
// metadata as read go in entries of their own, which other programs ignore.
//
// Reading gives back exactly what was written. Another program's file gives
// its bottom layer as the photo and the layers above merged into the colour
// layer (by their order, opacity, visibility and offsets), without marks.
// Damaged and hostile archives are refused with a reason: nothing is read
// past the sizes the images can have, and no entry is ever unpacked to disk.
//
// Writing takes implicitly shared copies of the images and may run on a
// worker thread; the file appears only when complete.
class WorkFile
{
    Q_DECLARE_TR_FUNCTIONS(WorkFile)

public:
    enum Error {
        NoError,
        NoSuchFile,
        NotRegularFile,
        NotAWorkFile,
        TooLarge,
        NotEnoughMemory,
        CannotWrite,
    };

    // The entries of the archive, as their paths in it.
    static const char mimetypeEntry[];
    static const char stackEntry[];
    static const char photoEntry[];
    static const char colourEntry[];
    static const char mergedEntry[];
    static const char thumbnailEntry[];
    static const char marksEntry[];
    static const char exifEntry[];
    static const char xmpEntry[];
    static const char iccEntry[];
    static constexpr int thumbnailSide = 256;

    explicit WorkFile(const QString &fileName);

    QString fileName() const { return name; }

    // Whether the name ends in .ora (the format Save writes it in).
    static bool hasWorkFileName(const QString &fileName);
    // Whether the file starts as an OpenRaster archive does, whatever its
    // name; never blocks on a file that is not a regular one.
    static bool looksLikeWorkFile(const QString &fileName);

    bool read();
    // As PhotoFile gives them: the photo in a form the colouriser reads and,
    // where deeper than 8 bits, its own pixels.
    const QImage &photo() const { return readPhoto; }
    QImage takePhoto() { return std::exchange(readPhoto, QImage()); }
    const QImage &original() const { return readOriginal; }
    // Format_ARGB32, the photo's size.
    const QImage &layer() const { return readLayer; }
    QImage takeLayer() { return std::exchange(readLayer, QImage()); }
    const QByteArray &marks() const { return readMarks; }
    const PhotoMetadata &metadata() const { return readMetadata; }
    // Another program's file: its layers above the bottom were merged.
    bool isForeign() const { return foreign; }

    bool write(const QImage &photo, const QImage &original, const QImage &layer, const QByteArray &marks,
               const PhotoMetadata &metadata, SaveProgress *progress = nullptr);
    // The same, taking the images over: the colour layer is let go as soon
    // as it is encoded, so that painting on the caller's layer meanwhile
    // need not copy it.
    bool writeReleasing(QImage &&photo, QImage &&original, QImage &&layer, const QByteArray &marks,
                        const PhotoMetadata &metadata, SaveProgress *progress = nullptr);
    // The same with the layer read from a snapshot of the colour layer,
    // which painting may go on changing meanwhile.
    bool writeReleasing(QImage &&photo, QImage &&original, std::shared_ptr<const LayerSnapshot> layer,
                        const QByteArray &marks, const PhotoMetadata &metadata, SaveProgress *progress = nullptr);

    Error error() const { return failure; }
    // A sentence for the status bar naming the file and the reason.
    QString errorString() const { return message; }
    // What a read or write that worked left out, for the status bar.
    QStringList notes() const { return remarks; }

private:
    class Archive;

    bool readArchive(Archive &archive);
    bool readOwn(Archive &archive, int width, int height);
    bool fail(Error error, const QString &text);
    bool failRead(Error error, const QString &reason);
    bool failWrite(const QString &reason);

    QString name;
    QImage readPhoto;
    QImage readOriginal;
    QImage readLayer;
    QByteArray readMarks;
    PhotoMetadata readMetadata;
    bool foreign = false;
    Error failure = NoError;
    QString message;
    QStringList remarks;
};

#endif // WORKFILE_H
