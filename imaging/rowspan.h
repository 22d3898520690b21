#ifndef ROWSPAN_H
#define ROWSPAN_H

#include <QList>

// A run of pixels on one photo row, from `left` to `right` inclusive. A brush
// step or a filled region is described as such runs, row by row, so that its
// memory follows the rows it covers and its writing the pixels it changes.
struct RowSpan {
    int y = 0;
    int left = 0;
    int right = 0;

    int length() const { return right - left + 1; }
    friend bool operator==(const RowSpan &a, const RowSpan &b)
    {
        return a.y == b.y && a.left == b.left && a.right == b.right;
    }
};

// Spans sorted by row, then by `left`, never overlapping on a row.
using RowSpans = QList<RowSpan>;

#endif // ROWSPAN_H
