// Quality of the colour spread on real photos turned grey, each with one short
// scribble per region in the region's true median colour: the mean CIEDE2000
// difference from the true colour photo of the grey photo, of the exact sparse
// solution and of the fast solver, and the fast solver against the exact one.
// Writes each result beside the true photo and the grey to a folder of PNGs.

#include "exactspread.h"

#include "imaging/colourspread.h"

#include <QDir>
#include <QImage>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <ctime>
#include <vector>

namespace {

// CPU time of this thread: the machine is shared, and wall time says more of
// the neighbours than of the solver.
double cpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

} // namespace

int main(int argc, char **argv)
{
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("/tmp/devset");
    const QString out = QStringLiteral("/tmp/spread-overlays");
    ColourSpread::Options options;
    if (argc > 2)
        options.iterations = std::atoi(argv[2]);
    if (argc > 3)
        options.sweeps = std::atoi(argv[3]);
    if (argc > 4)
        options.solvePixels = std::atoll(argv[4]);
    QDir().mkpath(out);
    const QStringList names = QDir(folder).entryList({QStringLiteral("*-grey.png")});
    std::printf("%-12s %9s %9s %9s %9s %9s %9s\n", "photo", "grey", "exact", "fast", "fast-ex", "exact_ms", "fast_ms");
    for (const QString &name : names) {
        const QString stem = name.left(name.size() - 9);
        const QImage grey = QImage(folder + QLatin1Char('/') + name).convertToFormat(QImage::Format_Grayscale8);
        const QImage truth = QImage(folder + QLatin1Char('/') + stem + QStringLiteral("-true.png")).convertToFormat(QImage::Format_RGB32);
        const QImage marksImage = QImage(folder + QLatin1Char('/') + stem + QStringLiteral("-marks.png")).convertToFormat(QImage::Format_ARGB32);
        QList<ColourSpread::Mark> marks;
        for (int y = 0; y < marksImage.height(); ++y)
            for (int x = 0; x < marksImage.width(); ++x)
                if (qAlpha(marksImage.pixel(x, y)) == 255)
                    marks.append({QPoint(x, y), marksImage.pixel(x, y)});
        double start = cpuMs();
        const ColourSpread::Result exact = ExactSpread::compute(grey, marks);
        const double exactMs = cpuMs() - start;
        start = cpuMs();
        const ColourSpread::Result fast = ColourSpread::compute(grey, marks, options);
        const double fastMs = cpuMs() - start;
        const QImage exactImage = ExactSpread::render(grey, exact.chroma);
        const QImage fastImage = ExactSpread::render(grey, fast.chroma);
        std::printf("%-12s %9.2f %9.2f %9.2f %9.2f %9.1f %9.1f\n", qPrintable(stem),
                    ExactSpread::meanCiede2000(grey.convertToFormat(QImage::Format_RGB32), truth), ExactSpread::meanCiede2000(exactImage, truth),
                    ExactSpread::meanCiede2000(fastImage, truth), ExactSpread::meanCiede2000(fastImage, exactImage), exactMs, fastMs);
        std::fflush(stdout);
        QImage sheet(grey.width() * 2, grey.height() * 2, QImage::Format_RGB32);
        QPainter p(&sheet);
        QImage greyMarked = grey.convertToFormat(QImage::Format_RGB32);
        for (const ColourSpread::Mark &m : marks)
            greyMarked.setPixel(m.pixel, m.colour);
        p.drawImage(0, 0, truth);
        p.drawImage(grey.width(), 0, greyMarked);
        p.drawImage(0, grey.height(), exactImage);
        p.drawImage(grey.width(), grey.height(), fastImage);
        p.end();
        sheet.save(out + QLatin1Char('/') + stem + QStringLiteral(".png"));
    }
    return 0;
}
