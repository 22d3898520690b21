// Peak memory of opening, painting and saving a 24-megapixel photo through the
// real window, as a multiple of the photo's size as a 32-bit image. Linux only:
// reads the peak resident size (VmHWM) after resetting it.

#include "memorystatus.h"
#include "testsupport.h"
#include "windowbench.h"

#include "app/mainwindow.h"
#include "app/document.h"
#include "canvas/czefgraphicsview.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QUndoStack>

#include <cstdio>
#include <memory>

namespace {

// Peak memory of a 120-move drag of brush 999 at the fitting zoom, beyond
// the record its undo step keeps, against the idle window with the photo open.
int strokeMemory()
{
    auto bench = std::make_unique<WindowBench>();
    bench->setBrush(999, true);
    QApplication::processEvents();
    const long idle = MemoryStatus::kb("VmRSS:");
    MemoryStatus::resetPeak();
    const long before = MemoryStatus::kb("VmRSS:");
    bench->drag(120, 200);
    QApplication::processEvents();
    const long peak = MemoryStatus::kb("VmHWM:");
    // The history was empty before the drag.
    const double recordKb = bench->mainWindow()->document()->historyBytes() / 1024.0;
    const double beyond = (peak - before) - recordKb;
    std::printf("idle window with the 6000 x 4000 photo open: %.0f MB\n", idle / 1024.0);
    std::printf("brush 999 drag at the fitting zoom: peak %.0f MB above the idle window, undo record %.0f MB\n",
                (peak - before) / 1024.0, recordKb / 1024);
    std::printf("beyond the undo record: %.1f MB = %.3f x the idle window (target at most 0.1)\n", beyond / 1024,
                beyond / idle);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    TestSupport::nameApplication();
    if (argc > 1 && qstrcmp(argv[1], "stroke") == 0)
        return strokeMemory();
    const int width = 6000;
    const int height = 4000;

    QTemporaryDir dir;
    const QString photoName = dir.filePath(QStringLiteral("photo.jpg"));
    {
        QImage photo(width, height, QImage::Format_RGB32);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                photo.setPixel(x, y, qRgb((x * 7 + y) & 0xFF, (x + y * 3) & 0xFF, (x ^ y) & 0xFF));
        photo.save(photoName, "jpg", 90);
    }

    MainWindow window;
    window.resize(1920, 1080);
    window.show();
    QApplication::processEvents();
    MemoryStatus::resetPeak();
    const long baseline = MemoryStatus::kb("VmRSS:");

    TestSupport::answerFileDialog(photoName);
    window.findChild<QAction *>(QStringLiteral("actionOpen"))->trigger();
    QApplication::processEvents();

    auto *view = window.findChild<CZefGraphicsView *>();
    for (int i = 0; i < 200; ++i) {
        QList<QPoint> disc;
        for (int x = 0; x < 40; ++x)
            for (int y = 0; y < 40; ++y)
                disc.append(QPoint(100 + i * 25 + x, 2000 + y));
        emit view->brushPressed(disc, {});
        QApplication::processEvents();
    }

    TestSupport::answerFileDialog(dir.filePath(QStringLiteral("coloured.jpg")));
    window.findChild<QAction *>(QStringLiteral("actionSave_As"))->trigger();
    QApplication::processEvents();

    const long peak = MemoryStatus::kb("VmHWM:");
    const double imageKb = double(width) * height * 4 / 1024;
    std::printf("24-megapixel photo (%.0f MB as a 32-bit image)\n", imageKb / 1024);
    std::printf("peak memory of open + paint + save above the idle window: %.0f MB = %.2f x the image\n",
                (peak - baseline) / 1024.0, (peak - baseline) / imageKb);
    std::printf("saved: %s\n", QFile::exists(dir.filePath(QStringLiteral("coloured.jpg"))) ? "yes" : "NO");
    return 0;
}
