#include "app/viewcommands.h"

#include "canvas/czefgraphicsview.h"
#include "ui_mainwindow.h"

#include <QAction>
#include <QLabel>
#include <QLocale>
#include <QStatusBar>

#include <algorithm>
#include <cmath>

QList<QKeySequence> ViewCommands::keysFor(QKeySequence::StandardKey key, const QList<QKeySequence> &extra)
{
    QList<QKeySequence> keys = QKeySequence::keyBindings(key);
    for (const QKeySequence &sequence : extra)
        if (!keys.contains(sequence))
            keys.append(sequence);
    return keys;
}

int ViewCommands::smallerBrush(int size)
{
    const int step = std::min(size - 1, int(std::lround(size / 1.15)));
    return std::clamp(step, smallestBrush, largestBrush);
}

int ViewCommands::largerBrush(int size)
{
    const int step = std::max(size + 1, int(std::lround(size * 1.15)));
    return std::clamp(step, smallestBrush, largestBrush);
}

QString ViewCommands::zoomText(qreal zoom)
{
    const qreal percent = zoom * 100;
    // Far out, whole percents would read 0 % or 1 % for very different zooms.
    const int decimals = percent < 10 ? 1 : 0;
    return tr("%1 %").arg(QLocale().toString(percent, 'f', decimals));
}

ViewCommands::ViewCommands(QMainWindow *window, Ui_MainWindow *ui)
    : QObject(window)
    , ui(ui)
    , view(ui->graphicsView)
    , zoomLabel(new QLabel(window))
{
    ui->actionZoom_In->setShortcuts(
        keysFor(QKeySequence::ZoomIn,
                {QKeySequence(Qt::CTRL | Qt::Key_Equal), QKeySequence(Qt::Key_Plus), QKeySequence(Qt::Key_Equal)}));
    ui->actionZoom_Out->setShortcuts(keysFor(QKeySequence::ZoomOut, {QKeySequence(Qt::Key_Minus)}));
    ui->actionFitToWindow->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_0));
    ui->actionActualSize->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_1));
    const qreal step = CZefGraphicsView::zoomStep;
    connect(ui->actionZoom_In, &QAction::triggered, view, [this, step] { view->zoomBy(step); });
    connect(ui->actionZoom_Out, &QAction::triggered, view, [this, step] { view->zoomBy(1 / step); });
    connect(ui->pushButtonZoomPlus, &QPushButton::clicked, ui->actionZoom_In, &QAction::trigger);
    connect(ui->pushButtonZoomMinus, &QPushButton::clicked, ui->actionZoom_Out, &QAction::trigger);
    connect(ui->actionFitToWindow, &QAction::triggered, view, &CZefGraphicsView::fitToWindow);
    connect(ui->actionActualSize, &QAction::triggered, view, &CZefGraphicsView::actualSize);

    zoomLabel->setObjectName(QStringLiteral("zoomLabel"));
    zoomLabel->setToolTip(tr("Zoom"));
    zoomLabel->setText(zoomText(view->zoom()));
    window->statusBar()->addPermanentWidget(zoomLabel);
    connect(view, &CZefGraphicsView::zoomChanged, zoomLabel,
            [this](qreal zoom) { zoomLabel->setText(zoomText(zoom)); });

    // The slider and the box show one size; the slider tells the canvas.
    ui->spinBoxToolSize->setValue(ui->horizontalSlider->value());
    connect(ui->horizontalSlider, &QSlider::valueChanged, ui->spinBoxToolSize, &QSpinBox::setValue);
    connect(ui->spinBoxToolSize, &QSpinBox::valueChanged, ui->horizontalSlider, &QSlider::setValue);
    auto *smaller = new QAction(tr("Smaller brush"), window);
    smaller->setObjectName(QStringLiteral("actionSmallerBrush"));
    smaller->setShortcut(QKeySequence(Qt::Key_BracketLeft));
    auto *larger = new QAction(tr("Larger brush"), window);
    larger->setObjectName(QStringLiteral("actionLargerBrush"));
    larger->setShortcut(QKeySequence(Qt::Key_BracketRight));
    window->addAction(smaller);
    window->addAction(larger);
    connect(smaller, &QAction::triggered, this, [this] { stepBrush(false); });
    connect(larger, &QAction::triggered, this, [this] { stepBrush(true); });

    ui->actionShowColouring->setCheckable(true);
    ui->actionShowColouring->setChecked(view->colouringShown());
    connect(ui->actionShowColouring, &QAction::toggled, view, &CZefGraphicsView::setColouringShown);
    connect(view, &CZefGraphicsView::colouringShownChanged, ui->actionShowColouring, &QAction::setChecked);
}

void ViewCommands::stepBrush(bool larger)
{
    const int size = ui->horizontalSlider->value();
    ui->horizontalSlider->setValue(larger ? largerBrush(size) : smallerBrush(size));
}
