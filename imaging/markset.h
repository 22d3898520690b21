#ifndef MARKSET_H
#define MARKSET_H

#include <QList>
#include <QObject>
#include <QPoint>
#include <QRectF>
#include <QRgb>
#include <QSize>

#include <map>
#include <optional>

// One mark on the photo: a small square (keep) or circle (remove) laid by a
// marker tool, or a dab of colour for the colour spread, with its top-left
// corner where the pointer was. Marks only mark: they never change the photo
// or its colouring.
struct Mark {
    enum Kind { Keep, Remove, Colour };

    quint64 id = 0;
    Kind kind = Keep;
    QRectF rect;
    QRgb colour = 0;
    // The step that used the mark up (a fill); 0 while the mark shows.
    quint64 hiddenBy = 0;

    bool isHidden() const { return hiddenBy != 0; }
};

// The document's marks. Marks are kept in the order they were laid (a mark
// put back keeps its place); whatever shows them follows the signals.
class MarkSet : public QObject
{
    Q_OBJECT

public:
    static constexpr qreal markSize = 5;

    explicit MarkSet(QObject *parent = nullptr);

    // The colour keep and remove marks are drawn in.
    static QRgb colourOf(Mark::Kind kind);

    // Lays a new mark and returns it. Keep and remove marks take their own
    // colour; a colour mark takes `colour`.
    Mark add(Mark::Kind kind, const QRectF &rect, QRgb colour = 0);
    // Puts back a mark that was taken off, as it was.
    void insert(const Mark &mark);
    // Takes a mark off; nothing when it is not there.
    std::optional<Mark> take(quint64 id);
    void clear();

    // Hides every mark that shows, as used up by the step `tag`, and gives
    // back how many; show() brings back exactly those. With `kinds` given,
    // only marks of those kinds.
    int hide(quint64 tag, const QList<Mark::Kind> &kinds = {});
    void show(quint64 tag);
    // A tag no step has used yet.
    static quint64 newTag();

    bool isEmpty() const { return marks.empty(); }
    qsizetype count() const { return qsizetype(marks.size()); }
    QList<Mark> all() const;

    // The pixels under the shown marks of a kind, as indices y * width + x
    // into a picture of `size`: the newest mark first, each column by column,
    // top to bottom. A mark covers its whole bounding square, cut to the
    // picture; overlapping marks give their shared pixels more than once.
    QList<int> indices(Mark::Kind kind, const QSize &size) const;
    // The same pixels as points.
    QList<QPoint> pixels(Mark::Kind kind, const QSize &size) const;

signals:
    void added(const Mark &mark);
    void removed(quint64 id);
    void hiddenChanged(quint64 id, bool hidden);

private:
    std::map<quint64, Mark> marks; // by id, which follows the order of laying
    quint64 lastId = 0;
};

#endif // MARKSET_H
