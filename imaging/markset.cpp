#include "imaging/markset.h"

#include <QColor>

#include <algorithm>
#include <atomic>
#include <iterator>

MarkSet::MarkSet(QObject *parent)
    : QObject(parent)
{ }

QRgb MarkSet::colourOf(Mark::Kind kind)
{
    return kind == Mark::Keep ? qRgb(50, 255, 50) : qRgb(255, 10, 10);
}

Mark MarkSet::add(Mark::Kind kind, const QRectF &rect, QRgb colour)
{
    Mark mark;
    mark.id = ++lastId;
    mark.kind = kind;
    mark.rect = rect;
    mark.colour = kind == Mark::Colour ? colour : colourOf(kind);
    marks.emplace(mark.id, mark);
    emit added(mark);
    return mark;
}

void MarkSet::insert(const Mark &mark)
{
    if (mark.id == 0 || !marks.emplace(mark.id, mark).second)
        return;
    lastId = std::max(lastId, mark.id);
    emit added(mark);
}

std::optional<Mark> MarkSet::take(quint64 id)
{
    const auto found = marks.find(id);
    if (found == marks.end())
        return std::nullopt;
    const Mark mark = found->second;
    marks.erase(found);
    emit removed(id);
    return mark;
}

void MarkSet::clear()
{
    while (!marks.empty())
        take(marks.begin()->first);
}

int MarkSet::hide(quint64 tag, const QList<Mark::Kind> &kinds)
{
    int hidden = 0;
    for (auto &[id, mark] : marks) {
        if (mark.isHidden() || (!kinds.isEmpty() && !kinds.contains(mark.kind)))
            continue;
        mark.hiddenBy = tag;
        ++hidden;
        emit hiddenChanged(id, true);
    }
    return hidden;
}

void MarkSet::show(quint64 tag)
{
    for (auto &[id, mark] : marks) {
        if (mark.hiddenBy != tag)
            continue;
        mark.hiddenBy = 0;
        emit hiddenChanged(id, false);
    }
}

quint64 MarkSet::newTag()
{
    static std::atomic<quint64> last{0};
    return ++last;
}

QList<Mark> MarkSet::all() const
{
    QList<Mark> list;
    list.reserve(count());
    for (const auto &entry : marks)
        list.append(entry.second);
    return list;
}

QList<int> MarkSet::indices(Mark::Kind kind, const QSize &size) const
{
    QList<int> list;
    const int w = size.width();
    const int h = size.height();
    // Newest first, as the topmost mark on the canvas comes first.
    for (auto it = marks.rbegin(); it != marks.rend(); ++it) {
        const Mark &mark = it->second;
        if (mark.kind != kind || mark.isHidden())
            continue;
        const int rx = int(mark.rect.x());
        const int ry = int(mark.rect.y());
        const int side = int(mark.rect.width()); // the square's side serves both directions
        if (rx >= w || ry > h || side <= 0)
            continue;
        for (int i = 0; i < side && i < w - rx; ++i)
            for (int j = 0; j < side && j < h - ry; ++j)
                list.append((ry + j) * w + (rx + i));
    }
    return list;
}

QList<QPoint> MarkSet::pixels(Mark::Kind kind, const QSize &size) const
{
    QList<QPoint> points;
    const int w = size.width();
    if (w <= 0)
        return points;
    const QList<int> list = indices(kind, size);
    points.reserve(list.size());
    for (const int index : list)
        points.append(QPoint(index % w, index / w));
    return points;
}
