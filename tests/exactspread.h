#ifndef EXACTSPREAD_H
#define EXACTSPREAD_H

#include "imaging/colourspread.h"

#include <QImage>
#include <QList>

// The colour spread written out plainly and solved exactly: every weight by
// std::exp in double precision, the whole system assembled as a sparse matrix
// and solved by Eigen's sparse LU. Only for small photos: the tests and the
// benchmarks measure the fast solver against it.
namespace ExactSpread {

// The spread at the photo's own size (level 0), as ColourSpread::compute
// returns it.
ColourSpread::Result compute(const QImage &photo, const QList<ColourSpread::Mark> &marks);

// The colour each pixel of a level gets: its chroma at the luminance of the
// photo reduced to that level (means of 2^level squares), as an RGB32 image.
QImage render(const QImage &photo, const ColourSpread::Chroma &chroma);

// The photo's luminance reduced to a level, row by row.
std::vector<double> levelLuminance(const QImage &photo, int level);

// A level's chroma reduced `steps` more times, by means of 2 x 2 squares.
ColourSpread::Chroma reduced(const ColourSpread::Chroma &chroma, int steps);

// The mean CIEDE2000 difference of two images of one size (sRGB, D65).
double meanCiede2000(const QImage &a, const QImage &b);

} // namespace ExactSpread

#endif // EXACTSPREAD_H
