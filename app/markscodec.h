#ifndef MARKSCODEC_H
#define MARKSCODEC_H

#include "imaging/markset.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QList>
#include <QString>

// The marks as a work file keeps them: every mark in the order it was laid,
// with its kind, place, colour and whether a fill used it up. Reading checks
// everything a damaged or hostile file could say (counts past the data,
// unknown kinds, places that are no numbers) and refuses it with a reason.
class MarksCodec
{
    Q_DECLARE_TR_FUNCTIONS(MarksCodec)

public:
    static QByteArray encode(const QList<Mark> &marks);
    // False with `reason` when `data` holds no valid marks; `marks` is then
    // left empty. Marks are numbered from 1 in their order; a hidden one has
    // hiddenBy 1, for the caller to replace by a tag of its own.
    static bool decode(const QByteArray &data, QList<Mark> *marks, QString *reason);
};

#endif // MARKSCODEC_H
