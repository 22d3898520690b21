#ifndef WINDOWGEOMETRY_H
#define WINDOWGEOMETRY_H

#include <QRect>

class QMainWindow;

// Where a main window opens: where the last one closed (its size, place and
// tool bars, in the settings store), or the first time about 70 % of the
// screen's available area, centred. A place saved on another screen layout
// is brought back onto the screen; a damaged value is ignored.
namespace WindowGeometry {

// The share of the available area a first window takes.
constexpr double firstShare = 0.7;

void restore(QMainWindow *window);
void save(const QMainWindow *window);
// `frame` moved, and shrunk where it must be, to lie within `available`.
QRect onScreen(const QRect &frame, const QRect &available);

} // namespace WindowGeometry

#endif // WINDOWGEOMETRY_H
