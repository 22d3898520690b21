#ifndef VIEWSCALE_H
#define VIEWSCALE_H

#include <QRectF>
#include <QSize>

class QScrollBar;

// The arithmetic of the view's zoom, apart from the view.
namespace ViewScale {

// The ratio by which the view follows one dimension of a resize: the new size
// over the old one when the view grew beyond the displayed scene or shrank,
// otherwise 1. A first resize has no valid old size and is not followed.
qreal followRatio(int newSize, int oldSize, qreal displayed);

// The scale that shows all of `whole` in `room`, never a fraction too large
// (which would bring up scroll bars for nothing); 1 where it fits already,
// unless `enlarge`.
qreal fitting(const QRectF &whole, const QSize &room, bool enlarge);

// Scrolls `bar` by about `drift` screen pixels, choosing among the nearest
// whole steps the one that keeps the photo pixel `target` under the pointer,
// which is at `now` before the scroll; `scale` is the zoom.
void settle(QScrollBar *bar, qreal drift, qreal now, qreal target, qreal scale);

} // namespace ViewScale

#endif // VIEWSCALE_H
