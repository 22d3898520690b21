#ifndef INBANDS_H
#define INBANDS_H

#include <functional>

// Work over the items [0, count) cut into bands that run at once, one per
// core (at most `most` when it is above 0) and each of at least `least`
// items. work(first, end) gets each band's items; the bands must not depend
// on each other, so the result does not depend on how many there are. Returns
// when every band is done; an exception from any (cancelled, out of memory)
// is thrown again only then. Without a thread to be had, the bands run here
// one after another.
namespace InBands {

void run(int count, const std::function<void(int, int)> &work, int least = 1, int most = 0);
// The same, work(band, first, end) also getting its band's number, in
// [0, bandsFor(count, least, most)): for work that keeps something per band.
void runNumbered(int count, const std::function<void(int, int, int)> &work, int least = 1, int most = 0);
// How many bands such work is cut into.
int bandsFor(int count, int least = 1, int most = 0);

} // namespace InBands

#endif // INBANDS_H
