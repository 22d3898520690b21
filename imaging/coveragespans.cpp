#include "imaging/coveragespans.h"

CoverageSpans::CoverageSpans(const RowSpans &hard)
    : rows(hard)
    , starts(hard.size(), -1)
{ }

void CoverageSpans::reserve(qsizetype spans, qsizetype count)
{
    rows.reserve(spans);
    starts.reserve(spans);
    values.reserve(count);
}

void CoverageSpans::appendFull(const RowSpan &span)
{
    rows.append(span);
    starts.append(-1);
}

void CoverageSpans::append(const RowSpan &span, const quint8 *coverage)
{
    rows.append(span);
    starts.append(values.size());
    values.append(reinterpret_cast<const char *>(coverage), span.length());
}

void CoverageSpans::append(const CoverageSpans &later)
{
    const qsizetype offset = values.size();
    rows.append(later.rows);
    starts.reserve(starts.size() + later.starts.size());
    for (const qsizetype start : later.starts)
        starts.append(start < 0 ? -1 : start + offset);
    values.append(later.values);
}
