// Quality of the colour spread on the evaluation set's spread photos: real
// photos turned grey, each with one short scribble per region in the region's
// true median colour. Per photo the mean CIEDE2000 difference from the true
// colour photo of the grey photo, of the exact sparse LU solution, of the
// spread as it runs (solved on a reduced level, upsampled) and of its solver
// alone at the photo's size; each spread against the exact solution; CPU
// times. Writes the true photo, the grey with the scribbles, the exact
// solution and the spread side by side to /tmp/spread-overlays.

#include "evalset.h"
#include "exactspread.h"

#include "imaging/colourspread.h"

#include <QDir>
#include <QImage>
#include <QPainter>

#include <algorithm>
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

struct Figures {
    std::vector<double> grey, exact, spread, solver, spreadToExact, solverToExact;
};

void summary(const char *what, std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    std::printf("%-26s median %6.2f  worst %6.2f\n", what, values[values.size() / 2], values.back());
}

} // namespace

int main(int argc, char **argv)
{
    const EvalSet set = EvalSet::load(argc > 1 ? QString::fromLocal8Bit(argv[1]) : EvalSet::benchSetPath());
    if (!set.isValid()) {
        std::fprintf(stderr, "%s\n", qPrintable(set.errorString()));
        return 1;
    }
    const QString out = QStringLiteral("/tmp/spread-overlays");
    QDir().mkpath(out);
    std::printf("Mean CIEDE2000 against the true colour photo, and against the exact solution (\"to exact\")\n");
    std::printf("%-18s %7s %6s %6s %7s %6s %8s %8s %9s %8s %8s\n", "photo", "size", "grey", "exact", "spread", "solver",
                "spr->ex", "sol->ex", "exact_ms", "sprd_ms", "solv_ms");
    Figures f;
    for (const EvalSet::Photo &photo : set.photos()) {
        if (photo.scribbles.isEmpty() || photo.greyOnly)
            continue;
        QList<ColourSpread::Mark> marks;
        for (const EvalSet::Scribble &s : photo.scribbles)
            for (const QPoint &p : s.pixels)
                marks.append({p, s.colour.rgb()});
        double start = cpuMs();
        const ColourSpread::Result exact = ExactSpread::compute(photo.grey, marks);
        const double exactMs = cpuMs() - start;
        start = cpuMs();
        const ColourSpread::Result spread = ColourSpread::compute(photo.grey, marks);
        const double spreadMs = cpuMs() - start;
        ColourSpread::Options whole;
        whole.solvePixels = qint64(photo.grey.width()) * photo.grey.height();
        start = cpuMs();
        const ColourSpread::Result solver = ColourSpread::compute(photo.grey, marks, whole);
        const double solverMs = cpuMs() - start;

        const QImage exactImage = ExactSpread::render(photo.grey, exact.chroma);
        const QImage spreadImage = ExactSpread::render(photo.grey, spread.chroma);
        const QImage solverImage = ExactSpread::render(photo.grey, solver.chroma);
        f.grey.push_back(EvalSet::meanDeltaE2000(photo.grey.convertToFormat(QImage::Format_RGB32), photo.colour));
        f.exact.push_back(EvalSet::meanDeltaE2000(exactImage, photo.colour));
        f.spread.push_back(EvalSet::meanDeltaE2000(spreadImage, photo.colour));
        f.solver.push_back(EvalSet::meanDeltaE2000(solverImage, photo.colour));
        f.spreadToExact.push_back(EvalSet::meanDeltaE2000(spreadImage, exactImage));
        f.solverToExact.push_back(EvalSet::meanDeltaE2000(solverImage, exactImage));
        std::printf("%-18s %3dx%3d %6.2f %6.2f %7.2f %6.2f %8.2f %8.2f %9.0f %8.1f %8.1f\n", qPrintable(photo.name),
                    photo.grey.width(), photo.grey.height(), f.grey.back(), f.exact.back(), f.spread.back(),
                    f.solver.back(), f.spreadToExact.back(), f.solverToExact.back(), exactMs, spreadMs, solverMs);
        std::fflush(stdout);

        const int w = photo.grey.width();
        const int h = photo.grey.height();
        QImage sheet(w * 2, h * 2, QImage::Format_RGB32);
        QImage marked = photo.grey.convertToFormat(QImage::Format_RGB32);
        for (const ColourSpread::Mark &m : marks)
            marked.setPixel(m.pixel, m.colour);
        QPainter p(&sheet);
        p.drawImage(0, 0, photo.colour);
        p.drawImage(w, 0, marked);
        p.drawImage(0, h, exactImage);
        p.drawImage(w, h, spreadImage);
        p.end();
        sheet.save(out + QLatin1Char('/') + photo.name + QStringLiteral(".png"));
    }
    if (f.grey.empty())
        return 1;
    std::printf("\n");
    summary("grey photo", f.grey);
    summary("exact sparse LU", f.exact);
    summary("spread", f.spread);
    summary("solver alone, full size", f.solver);
    std::vector<double> above;
    for (size_t i = 0; i < f.spread.size(); ++i)
        above.push_back(f.spread[i] - f.exact[i]);
    summary("spread - exact (<= 0.5)", above);
    summary("spread to exact", f.spreadToExact);
    summary("solver to exact", f.solverToExact);
    return 0;
}
