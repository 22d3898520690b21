// How long the window waits on a save of a 24-megapixel photo, as JPG, PNG
// and work file: the whole save through the window's Save, the longest time
// the window's event loop went without running (a 1 ms timer's largest gap),
// and the file's size. With the argument "stroke", a stroke painted 5 ms
// into the save, and its time; with "late", 1 s into it. The photo is a real one scaled up to 6000 x 4000, grey
// as the photos Brivela colours are, with its left half coloured.

#include "app/document.h"
#include "app/mainwindow.h"
#include "app/savecontroller.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // With "stroke", a stroke is painted while each save runs.
    // With "late", 1 s after the save began, once the picture is composed.
    const bool late = QApplication::arguments().contains(QStringLiteral("late"));
    const bool withStroke = late || QApplication::arguments().contains(QStringLiteral("stroke"));
    QTemporaryDir dir;
    const QImage source(QStringLiteral("/usr/lib/python3/dist-packages/skimage/data/astronaut.png"));
    if (source.isNull() || !dir.isValid()) {
        std::fprintf(stderr, "savestall: python3-skimage's astronaut.png is needed\n");
        return 1;
    }
    const QImage photo = source.convertToFormat(QImage::Format_Grayscale8)
                             .scaled(6000, 4000, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);

    MainWindow window;
    window.show();
    Document *doc = window.document();
    if (doc->open(photo, QImage(), dir.filePath(QStringLiteral("photo.png"))) != Document::OpenResult::Opened)
        return 1;
    RowSpans half;
    for (int y = 0; y < photo.height(); ++y)
        half.append({y, 0, photo.width() / 2 - 1});
    doc->fill(half);

    {
        QElapsedTimer stroke;
        stroke.start();
        doc->beginStroke(false);
        doc->paintSpans({{12, 4000, 4100}}, {});
        doc->endStroke();
        std::printf("a stroke with no save running: %lld ms\n", static_cast<long long>(stroke.elapsed()));
    }
    std::printf("%-10s %10s %14s %14s %10s\n", "format", "save ms", "longest stall", "stroke during", "MB");
    for (const char *suffix : {"jpg", "png", "ora"}) {
        const QString name = dir.filePath(QStringLiteral("saved.") + QLatin1String(suffix));
        QElapsedTimer sinceTick;
        qint64 longest = 0;
        QTimer ticker;
        ticker.setTimerType(Qt::PreciseTimer);
        QObject::connect(&ticker, &QTimer::timeout, [&] { longest = std::max(longest, sinceTick.restart()); });
        // A stroke while the file is written: its first touch of the colour
        // layer copies the layer the save still reads.
        qint64 strokeMs = -1;
        QObject::connect(window.saveController(), &SaveController::saveStarted, &ticker, [&] {
            sinceTick.start();
            ticker.start(1);
            if (!withStroke)
                return;
            QTimer::singleShot(late ? 1000 : 5, &ticker, [&] {
                QElapsedTimer stroke;
                stroke.start();
                doc->beginStroke(false);
                doc->paintSpans({{10, 4000, 4100}}, {});
                doc->endStroke();
                strokeMs = stroke.elapsed();
            });
        });
        QElapsedTimer whole;
        whole.start();
        const bool saved = window.saveController()->saveTo(name);
        const qint64 ms = whole.elapsed();
        // The stall up to the save's end counts too.
        longest = std::max(longest, sinceTick.isValid() ? sinceTick.elapsed() : ms);
        ticker.stop();
        QObject::disconnect(window.saveController(), &SaveController::saveStarted, &ticker, nullptr);
        std::printf("%-10s %10lld %11lld ms %11lld ms %10.1f%s\n", suffix, static_cast<long long>(ms),
                    static_cast<long long>(longest), static_cast<long long>(strokeMs), QFileInfo(name).size() / 1e6,
                    saved ? "" : "  (failed)");
    }
    return 0;
}
