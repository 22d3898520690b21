#ifndef COVERAGESPANS_H
#define COVERAGESPANS_H

#include "imaging/rowspan.h"

#include <QByteArray>
#include <QList>
#include <QtGlobal>

// A shape with soft edges, row by row: spans as RowSpans gives them, each
// either wholly covered or carrying one coverage value per pixel (0 nothing,
// 255 all). A hard shape is its spans alone, so painting it costs what it
// did before soft edges existed; only the pixels of a soft rim carry values.
class CoverageSpans
{
public:
    static constexpr quint8 full = 255;

    CoverageSpans() = default;
    // Every span wholly covered.
    explicit CoverageSpans(const RowSpans &hard);

    // Room for `spans` spans and `values` coverage values in all.
    void reserve(qsizetype spans, qsizetype values);
    // Spans must come sorted by row, then by left, and must not overlap.
    void appendFull(const RowSpan &span);
    // `values` holds span.length() coverage values, left to right.
    void append(const RowSpan &span, const quint8 *values);
    // All of `later`'s spans, which must come after these.
    void append(const CoverageSpans &later);

    const RowSpans &spans() const { return rows; }
    qsizetype size() const { return rows.size(); }
    bool isEmpty() const { return rows.isEmpty(); }
    // The coverage values of span i, or null where it is wholly covered.
    const quint8 *coverage(qsizetype i) const
    {
        return starts[i] < 0 ? nullptr : reinterpret_cast<const quint8 *>(values.constData()) + starts[i];
    }
    // Coverage of pixel x of span i (which must lie inside the span).
    quint8 at(qsizetype i, int x) const
    {
        const quint8 *c = coverage(i);
        return c ? c[x - rows[i].left] : full;
    }
    bool isHard() const { return values.isEmpty(); }

private:
    RowSpans rows;
    QList<qsizetype> starts; // into values, or -1 for a wholly covered span
    QByteArray values;
};

#endif // COVERAGESPANS_H
