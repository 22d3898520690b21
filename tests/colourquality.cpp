#include "colourquality.h"

#include "app/photofile.h"
#include "evalset.h"
#include "imaging/rowspan.h"
#include "imaging/strokebuffer.h"

#include <cmath>

namespace ColourQuality {

Figures paintObject(const QImage &grey, const QImage &colour, const QImage &mask, const StrokeStyle &style,
                    QImage *composed)
{
    RowSpans inside;
    for (int y = 0; y < mask.height(); ++y) {
        const uchar *line = mask.constScanLine(y);
        for (int x = 0; x < mask.width();) {
            if (line[x] < 128) {
                ++x;
                continue;
            }
            const int left = x;
            while (x < mask.width() && line[x] >= 128)
                ++x;
            inside.append(RowSpan{y, left, x - 1});
        }
    }
    QImage layer(grey.size(), QImage::Format_ARGB32);
    layer.fill(0);
    StrokeBuffer(layer, grey, style, 0).paint(inside);
    // What a save to PNG writes: the layer over the photo.
    const QImage result = PhotoFile::composed(grey, QImage(), layer, "png");

    Figures f;
    f.deltaE = EvalSet::meanDeltaE2000(result, colour, mask);
    const QImage luma = EvalSet::greyOf(result);
    double painted = 0;
    double photo = 0;
    double levels = 0;
    qint64 count = 0;
    for (const RowSpan &span : std::as_const(inside)) {
        const uchar *l = luma.constScanLine(span.y);
        const uchar *g = grey.constScanLine(span.y);
        for (int x = span.left; x <= span.right; ++x) {
            painted += l[x];
            photo += g[x];
            levels += std::abs(int(l[x]) - int(g[x]));
            ++count;
        }
    }
    f.lumaShift = photo > 0 ? (painted - photo) / photo : 0;
    f.lumaLevels = count ? levels / double(count) : 0;
    if (composed)
        *composed = result;
    return f;
}

} // namespace ColourQuality
