#include "app/mainwindow.h"
#include "canvas/canvasitems.h"
#include "canvas/czefgraphicsview.h"
#include "colourlayer/czefgraphicsimagemaskitem.h"
#include "testsupport.h"
#include "ui/helpdialog.h"

#include <QAction>
#include <QBoxLayout>
#include <QDesktopServices>
#include <QDir>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QSlider>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QToolBar>
#include <QUndoStack>
#include <QUrlQuery>
#include <QtTest>

namespace {

// A window with a photo open and coloured by one stroke, not yet saved.
struct Work {
    explicit Work(const QString &photoName)
    {
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        view = window.findChild<CZefGraphicsView *>(QStringLiteral("graphicsView"));
        open(photoName);
        QCOMPARE(window.windowTitle(), QFileInfo(photoName).fileName() + QStringLiteral("[*]"));
        QVERIFY(!window.isWindowModified());

        const QPoint p = view->mapFromScene(QPointF(20, 15));
        TestSupport::sendMouse(view->viewport(), QEvent::MouseButtonPress, p, Qt::LeftButton, Qt::LeftButton);
        TestSupport::sendMouse(view->viewport(), QEvent::MouseButtonRelease, p, Qt::LeftButton, Qt::NoButton);
        QCOMPARE(view->undoStack->count(), 1); // the stroke
        QVERIFY(window.isWindowModified());
        painted = layerImage();
        QVERIFY(painted != QImage(painted.size(), painted.format()));
    }
    void open(const QString &fileName)
    {
        TestSupport::answerFileDialog(fileName);
        trigger("actionOpen");
    }
    void trigger(const char *action) { window.findChild<QAction *>(QString::fromLatin1(action))->trigger(); }
    CZefGraphicsImageMaskItem *layer() const
    {
        return view->documentItems() ? view->documentItems()->layerItem() : nullptr;
    }
    QImage layerImage() const { return *layer()->maskImage; }

    MainWindow window;
    CZefGraphicsView *view = nullptr;
    QImage painted;
};

QString writePhoto(const QTemporaryDir &dir, const QString &name, const QSize &size)
{
    QImage image(size, QImage::Format_Grayscale8);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            image.scanLine(y)[x] = uchar(x + y);
    const QString fileName = dir.filePath(name);
    if (!image.save(fileName))
        qWarning("cannot write %s", qPrintable(fileName));
    return fileName;
}

} // namespace

// Receives the addresses the program asks the desktop to open.
class UrlRecorder : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl &url) { opened.append(url); }
};

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void iconResourceLoadsBeforeAnyWindow();
    void resourcesAreTheIconsAlone();
    void toolBarIconsLoad_data();
    void toolBarIconsLoad();
    void everyStartStoresBrushSize20();
    void eachWindowKeepsItsBrush();
    void sliderStoresEveryValueWithinItsRange();
    void formBuildsTheTree();
    void formTexts_data();
    void formTexts();
    void languageChangeReappliesTexts();
    void menusAndToolBar();
    void columnKeepsItsShapeWhenTaller();
    void zoomScalesTheCanvas();
    void websiteCommandsOpenOneAddress();
    void aboutBox();
    void helpIndexOpensIndependentDialogs();
    void canvasStartsWithoutTool();
    void shortcuts_data();
    void shortcuts();
    void titleShowsThePhotoAndUnsavedWork();
    void unsavedWorkIsAskedAbout_data();
    void unsavedWorkIsAskedAbout();
    void laterSuccessClearsTheStatus_data();
    void laterSuccessClearsTheStatus();

private:
    QTemporaryDir dir;
};

void TestMainWindow::initTestCase()
{
    TestSupport::nameApplication();
    QVERIFY(dir.isValid());
    QVERIFY(QSettings().fileName().startsWith(TestSupport::homeDir()));
}

void TestMainWindow::iconResourceLoadsBeforeAnyWindow()
{
    QVERIFY(QApplication::topLevelWidgets().isEmpty());
    const QImage icon(QStringLiteral(":/brush.png"));
    QCOMPARE(icon.size(), QSize(48, 48));
    QVERIFY(icon.hasAlphaChannel());
    int transparent = 0;
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 48; ++x)
            transparent += qAlpha(icon.pixel(x, y)) == 0;
    QVERIFY2(transparent > 48 * 48 / 3 && transparent < 48 * 48 * 2 / 3, "about half transparent");
}

void TestMainWindow::resourcesAreTheIconsAlone()
{
    // Qt keeps resources of its own in two folders; the vector sources and
    // the ui/ folder are not embedded.
    QStringList names = QDir(QStringLiteral(":/")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    names.removeAll(QStringLiteral("qt-project.org"));
    names.removeAll(QStringLiteral("qpdf"));
    QCOMPARE(names,
             QStringList(
                 {QStringLiteral("brush-tool.png"), QStringLiteral("brush-tool@2x.png"), QStringLiteral("brush.png"),
                  QStringLiteral("colour-marks.png"), QStringLiteral("colour-marks@2x.png"), QStringLiteral("fill.png"),
                  QStringLiteral("fill@2x.png"), QStringLiteral("keep-marks.png"), QStringLiteral("keep-marks@2x.png"),
                  QStringLiteral("remove-marks.png"), QStringLiteral("remove-marks@2x.png"),
                  QStringLiteral("spread.png"), QStringLiteral("spread@2x.png")}));
}

void TestMainWindow::toolBarIconsLoad_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("brush tool") << QStringLiteral(":/brush-tool.png");
    QTest::newRow("keep marks") << QStringLiteral(":/keep-marks.png");
    QTest::newRow("remove marks") << QStringLiteral(":/remove-marks.png");
    QTest::newRow("fill") << QStringLiteral(":/fill.png");
}

void TestMainWindow::toolBarIconsLoad()
{
    QFETCH(QString, name);
    const QImage small(name);
    QCOMPARE(small.size(), QSize(24, 24));
    QVERIFY(small.hasAlphaChannel());
    // The double-size picture, for dense screens, under the @2x name that
    // QIcon looks for.
    const QImage large(QString(name).replace(QStringLiteral(".png"), QStringLiteral("@2x.png")));
    QCOMPARE(large.size(), QSize(48, 48));
    // Both drawn from the same source: the small one is about the large one
    // scaled down, not a different picture.
    const QImage scaled = large.scaled(24, 24, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    int far = 0;
    for (int y = 0; y < 24; ++y)
        for (int x = 0; x < 24; ++x)
            far += std::abs(qAlpha(scaled.pixel(x, y)) - qAlpha(small.pixel(x, y))) > 96;
    QVERIFY2(far < 24 * 24 / 20, qPrintable(QStringLiteral("%1 pixels differ").arg(far)));
}

void TestMainWindow::everyStartStoresBrushSize20()
{
    QSettings().setValue(QStringLiteral("TOOLSIZE"), 100);
    MainWindow window;
    QCOMPARE(QSettings().value(QStringLiteral("TOOLSIZE")).toInt(), 20);
    QCOMPARE(window.findChild<QSlider *>(QStringLiteral("horizontalSlider"))->value(), 20);
}

// Another window starting, or junk written into the store, never changes the
// brush of a window that is running.
void TestMainWindow::eachWindowKeepsItsBrush()
{
    MainWindow first;
    first.findChild<QSlider *>(QStringLiteral("horizontalSlider"))->setValue(300);
    MainWindow second;
    QSettings().setValue(QStringLiteral("TOOLSIZE"), QStringLiteral("garbage"));
    QCOMPARE(first.findChild<CZefGraphicsView *>()->brushSize(), 300);
    QCOMPARE(second.findChild<CZefGraphicsView *>()->brushSize(), 20);
}

void TestMainWindow::sliderStoresEveryValueWithinItsRange()
{
    MainWindow window;
    auto *slider = window.findChild<QSlider *>(QStringLiteral("horizontalSlider"));
    QSignalSpy moved(slider, &QSlider::valueChanged);
    const QList<QPair<int, int>> rows = {{1, 1}, {999, 999}, {0, 1}, {5000, 999}, {37, 37}};
    for (const auto &[asked, stored] : rows) {
        slider->setValue(asked);
        QCOMPARE(slider->value(), stored);
        QCOMPARE(QSettings().value(QStringLiteral("TOOLSIZE")).toInt(), stored);
    }
    QCOMPARE(moved.size(), 5); // one signal, and one store, per change of value
}

void TestMainWindow::formBuildsTheTree()
{
    MainWindow window;
    QCOMPARE(window.objectName(), QStringLiteral("MainWindow"));
    // A first window takes about 70 % of the screen's available area.
    const QRect available = window.screen()->availableGeometry();
    const double share = double(window.width()) * window.height() / (double(available.width()) * available.height());
    QVERIFY2(share > 0.65 && share < 0.75, qPrintable(QString::number(share)));
    QCOMPARE(window.windowIcon().availableSizes(), QList<QSize>({QSize(48, 48)}));
    QCOMPARE(window.windowIcon().pixmap(48, 48).toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied),
             QImage(QStringLiteral(":/brush.png")).convertToFormat(QImage::Format_ARGB32_Premultiplied));

    QWidget *central = window.centralWidget();
    QCOMPARE(central->objectName(), QStringLiteral("centralWidget"));
    auto *outer = qobject_cast<QHBoxLayout *>(central->layout());
    QVERIFY(outer);
    QCOMPARE(outer->objectName(), QStringLiteral("horizontalLayout_2"));
    QCOMPARE(outer->spacing(), 6);
    QCOMPARE(outer->contentsMargins(), QMargins(11, 11, 11, 11));
    QCOMPARE(outer->count(), 1);

    auto *row = qobject_cast<QHBoxLayout *>(outer->itemAt(0)->layout());
    QCOMPARE(row->objectName(), QStringLiteral("horizontalLayout"));
    QCOMPARE(row->spacing(), 6);
    QCOMPARE(row->stretch(0), 95);
    QCOMPARE(row->stretch(1), 5);

    auto *view = qobject_cast<CZefGraphicsView *>(row->itemAt(0)->widget());
    QVERIFY(view);
    QCOMPARE(view->objectName(), QStringLiteral("graphicsView"));
    QCOMPARE(view->parentWidget(), central);
    QVERIFY(view->hasMouseTracking());

    auto *column = qobject_cast<QVBoxLayout *>(row->itemAt(1)->layout());
    QCOMPARE(column->objectName(), QStringLiteral("verticalLayout"));
    QCOMPARE(column->spacing(), 6);
    QCOMPARE(column->contentsMargins().right(), 10);
    QCOMPARE(column->count(), 6);
    QCOMPARE(column->itemAt(0)->widget()->objectName(), QStringLiteral("pushButtonColor"));
    QCOMPARE(column->itemAt(1)->widget()->objectName(), QStringLiteral("label"));
    // The brush size: the slider with the number beside it.
    auto *sizeRow = qobject_cast<QHBoxLayout *>(column->itemAt(2)->layout());
    QVERIFY(sizeRow);
    QCOMPARE(sizeRow->itemAt(0)->widget()->objectName(), QStringLiteral("horizontalSlider"));
    QCOMPARE(sizeRow->itemAt(1)->widget()->objectName(), QStringLiteral("spinBoxToolSize"));
    auto *zoomRow = qobject_cast<QHBoxLayout *>(column->itemAt(3)->layout());
    QCOMPARE(zoomRow->objectName(), QStringLiteral("horizontalLayout_3"));
    QCOMPARE(zoomRow->contentsMargins().bottom(), 0);
    QCOMPARE(zoomRow->itemAt(0)->widget()->objectName(), QStringLiteral("pushButtonZoomPlus"));
    QCOMPARE(zoomRow->itemAt(1)->widget()->objectName(), QStringLiteral("pushButtonZoomMinus"));
    QSpacerItem *spacer = column->itemAt(4)->spacerItem();
    QVERIFY(spacer);
    QCOMPARE(spacer->sizeHint(), QSize(20, 40));
    QCOMPARE(spacer->sizePolicy().verticalPolicy(), QSizePolicy::Expanding);
    QCOMPARE(column->itemAt(5)->widget()->objectName(), QStringLiteral("pushButtonWebsite"));

    auto *label = window.findChild<QLabel *>(QStringLiteral("label"));
    QCOMPARE(label->sizePolicy().horizontalPolicy(), QSizePolicy::Preferred);
    QCOMPARE(label->sizePolicy().verticalPolicy(), QSizePolicy::Minimum);
    auto *slider = window.findChild<QSlider *>(QStringLiteral("horizontalSlider"));
    QCOMPARE(slider->minimum(), 1);
    QCOMPARE(slider->maximum(), 999);
    QCOMPARE(slider->orientation(), Qt::Horizontal);

    QCOMPARE(window.menuBar()->objectName(), QStringLiteral("menuBar"));
    QCOMPARE(window.statusBar()->objectName(), QStringLiteral("statusBar"));
    auto *toolBar = window.findChild<QToolBar *>(QStringLiteral("mainToolBar"));
    QVERIFY(toolBar);
    QCOMPARE(window.toolBarArea(toolBar), Qt::TopToolBarArea);
}

void TestMainWindow::formTexts_data()
{
    QTest::addColumn<QString>("object");
    QTest::addColumn<QByteArray>("property");
    QTest::addColumn<QString>("text");

    QTest::newRow("window title") << "MainWindow" << QByteArray("windowTitle") << "Brivela";
    QTest::newRow("open") << "actionOpen" << QByteArray("text") << "Open";
    QTest::newRow("save as") << "actionSave_As" << QByteArray("text") << "Save As";
    QTest::newRow("index") << "actionIndex" << QByteArray("text") << "Index";
    QTest::newRow("about") << "actionAbout" << QByteArray("text") << "About";
    QTest::newRow("visit website") << "actionVisit_Website" << QByteArray("text") << "Visit Website";
    QTest::newRow("colour tip") << "pushButtonColor" << QByteArray("toolTip") << "Select painting color";
    QTest::newRow("colour") << "pushButtonColor" << QByteArray("text") << "Color";
    QTest::newRow("label") << "label" << QByteArray("text") << "Brush size";
    QTest::newRow("slider tip") << "horizontalSlider" << QByteArray("toolTip") << "Change brush size";
    QTest::newRow("zoom in tip") << "pushButtonZoomPlus" << QByteArray("toolTip") << "Zoom in";
    QTest::newRow("zoom in") << "pushButtonZoomPlus" << QByteArray("text") << "+";
    QTest::newRow("zoom out tip") << "pushButtonZoomMinus" << QByteArray("toolTip") << "Zoom out";
    QTest::newRow("zoom out") << "pushButtonZoomMinus" << QByteArray("text") << "-";
    QTest::newRow("website") << "pushButtonWebsite" << QByteArray("text") << "Website";
    QTest::newRow("file menu") << "menuFile" << QByteArray("title") << "File";
    QTest::newRow("help menu") << "menuHelp" << QByteArray("title") << "Help";
}

static QObject *objectNamed(QMainWindow &window, const QString &name)
{
    return name == window.objectName() ? &window : window.findChild<QObject *>(name);
}

void TestMainWindow::formTexts()
{
    QFETCH(QString, object);
    QFETCH(QByteArray, property);
    QFETCH(QString, text);

    MainWindow window;
    QObject *target = objectNamed(window, object);
    QVERIFY2(target, qPrintable(object));
    QCOMPARE(target->property(property.constData()).toString(), text);
}

void TestMainWindow::languageChangeReappliesTexts()
{
    MainWindow window;
    QTest::failOnWarning(QRegularExpression(QStringLiteral(".*")));
    window.setWindowTitle(QStringLiteral("changed"));
    window.findChild<QLabel *>(QStringLiteral("label"))->setText(QStringLiteral("changed"));
    window.findChild<QMenu *>(QStringLiteral("menuHelp"))->setTitle(QStringLiteral("changed"));

    QEvent other(QEvent::FontChange);
    QApplication::sendEvent(&window, &other);
    QCOMPARE(window.windowTitle(), QStringLiteral("changed"));

    QEvent change(QEvent::LanguageChange);
    QApplication::sendEvent(&window, &change);
    QCOMPARE(window.windowTitle(), QStringLiteral("Brivela"));
    QCOMPARE(window.findChild<QLabel *>(QStringLiteral("label"))->text(), QStringLiteral("Brush size"));
    QCOMPARE(window.findChild<QMenu *>(QStringLiteral("menuHelp"))->title(), QStringLiteral("Help"));
    QCOMPARE(window.findChild<QSlider *>(QStringLiteral("horizontalSlider"))->value(), 20);
}

void TestMainWindow::menusAndToolBar()
{
    MainWindow window;
    const auto names = [](const QList<QAction *> &actions) {
        QStringList list;
        for (const QAction *action : actions)
            list.append(action->isSeparator() ? QStringLiteral("|") : action->objectName());
        return list;
    };
    QList<QAction *> top = window.menuBar()->actions();
    QCOMPARE(top.size(), 4);
    QCOMPARE(top.at(0)->menu()->objectName(), QStringLiteral("menuFile"));
    QCOMPARE(top.at(1)->menu()->objectName(), QStringLiteral("menuEdit"));
    QCOMPARE(top.at(2)->menu()->objectName(), QStringLiteral("menuView"));
    QCOMPARE(top.at(3)->menu()->objectName(), QStringLiteral("menuHelp"));
    QCOMPARE(names(top.at(0)->menu()->actions()),
             QStringList({QStringLiteral("actionOpen"), QStringLiteral("actionSave"), QStringLiteral("actionSave_As"),
                          QStringLiteral("|"), QStringLiteral("actionOpenReference"), QStringLiteral("|"),
                          QStringLiteral("actionQuit")}));
    QCOMPARE(names(top.at(1)->menu()->actions()),
             QStringList({QStringLiteral("actionUndo"), QStringLiteral("actionRedo")}));
    QCOMPARE(names(top.at(2)->menu()->actions()),
             QStringList({QStringLiteral("actionZoom_In"), QStringLiteral("actionZoom_Out"),
                          QStringLiteral("actionFitToWindow"), QStringLiteral("actionActualSize"), QStringLiteral("|"),
                          QStringLiteral("actionShowColouring")}));
    QCOMPARE(names(top.at(3)->menu()->actions()),
             QStringList({QStringLiteral("actionIndex"), QStringLiteral("actionAbout"),
                          QStringLiteral("actionVisit_Website")}));
    // The first tools keep their icons; the later ones show their names.
    const QStringList iconTools{QStringLiteral("actionBrush"),       QStringLiteral("actionKeepMarks"),
                                QStringLiteral("actionRemoveMarks"), QStringLiteral("actionColourMarks"),
                                QStringLiteral("actionFill"),        QStringLiteral("actionSpread")};
    QStringList toolBar = names(window.findChild<QToolBar *>(QStringLiteral("mainToolBar"))->actions());
    toolBar.removeAll(QString()); // controls the window adds beside the tools
    QCOMPARE(toolBar.mid(0, 10),
             QStringList({QStringLiteral("actionBrush"), QStringLiteral("actionKeepMarks"),
                          QStringLiteral("actionRemoveMarks"), QStringLiteral("actionColourMarks"),
                          QStringLiteral("actionFill"), QStringLiteral("actionSpread"), QStringLiteral("|"),
                          QStringLiteral("actionPickColour"), QStringLiteral("actionNaturalColour"),
                          QStringLiteral("actionShowColouring")}));
    for (QAction *action : window.findChildren<QAction *>())
        if (!action->objectName().isEmpty())
            QCOMPARE(action->icon().isNull(), !iconTools.contains(action->objectName()));
    QCOMPARE(window.findChild<QAction *>(QStringLiteral("actionUndo"))->shortcut(), QKeySequence(QKeySequence::Undo));
    QCOMPARE(window.findChild<QAction *>(QStringLiteral("actionRedo"))->shortcut(), QKeySequence(QKeySequence::Redo));
}

void TestMainWindow::columnKeepsItsShapeWhenTaller()
{
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto geometryOf = [&window](const char *name) {
        QWidget *w = window.findChild<QWidget *>(QString::fromLatin1(name));
        return QRect(w->mapTo(&window, QPoint(0, 0)), w->size());
    };
    window.resize(400, 300);
    QTRY_COMPARE(window.size(), QSize(400, 300));
    const QRect websiteBefore = geometryOf("pushButtonWebsite");
    const QRect zoomBefore = geometryOf("pushButtonZoomPlus");

    window.resize(1200, 700);
    QTRY_COMPARE(window.size(), QSize(1200, 700));
    QCoreApplication::processEvents();
    const QRect website = geometryOf("pushButtonWebsite");
    QCOMPARE(website.bottom() - websiteBefore.bottom(), 400);           // stays at the bottom
    QCOMPARE(geometryOf("pushButtonZoomPlus").top(), zoomBefore.top()); // stays under the slider
    const int canvas = geometryOf("graphicsView").width();
    const int column = geometryOf("pushButtonColor").width();
    QVERIFY2(canvas > 5 * column, "the canvas takes nearly all of the width");
}

void TestMainWindow::zoomScalesTheCanvas()
{
    MainWindow window;
    auto *view = window.findChild<CZefGraphicsView *>(QStringLiteral("graphicsView"));
    auto *plus = window.findChild<QPushButton *>(QStringLiteral("pushButtonZoomPlus"));
    auto *minus = window.findChild<QPushButton *>(QStringLiteral("pushButtonZoomMinus"));
    plus->click();
    QCOMPARE(view->transform().m11(), 1.2);
    QCOMPARE(view->transform().m22(), 1.2);
    plus->click();
    QVERIFY(qFuzzyCompare(view->transform().m11(), 1.44));
    minus->click();
    minus->click();
    QVERIFY(qFuzzyCompare(view->transform().m11(), 1.0));
    for (int i = 0; i < 30; ++i)
        minus->click();
    QVERIFY(view->transform().m11() > 0);
    QVERIFY(qFuzzyCompare(view->transform().m11(), std::pow(1 / 1.2, 30)));
}

void TestMainWindow::websiteCommandsOpenOneAddress()
{
    UrlRecorder recorder;
    QDesktopServices::setUrlHandler(QStringLiteral("http"), &recorder, "open");
    {
        MainWindow window;
        window.findChild<QPushButton *>(QStringLiteral("pushButtonWebsite"))->click();
        window.findChild<QAction *>(QStringLiteral("actionVisit_Website"))->trigger();
    }
    QDesktopServices::unsetUrlHandler(QStringLiteral("http"));

    QCOMPARE(recorder.opened.size(), 2);
    QCOMPARE(recorder.opened.at(0), recorder.opened.at(1));
    const QUrl url = recorder.opened.at(0);
    QCOMPARE(url.scheme(), QStringLiteral("http"));
    QCOMPARE(url.path(), QStringLiteral("/"));
    QCOMPARE(url.query(), QStringLiteral("from=brv10"));
    QVERIFY(url.host().contains(QStringLiteral("fendrel")));
}

void TestMainWindow::aboutBox()
{
    MainWindow window;
    QString title;
    QString text;
    QWidget *parent = nullptr;
    QTimer::singleShot(0, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        QVERIFY(box);
        title = box->windowTitle();
        text = box->text();
        parent = box->parentWidget();
        box->accept();
    });
    window.findChild<QAction *>(QStringLiteral("actionAbout"))->trigger();
    QCOMPARE(title, QStringLiteral("Brivela 1.0"));
    QCOMPARE(parent, &window);
    const QStringList lines = text.split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 2);
    QVERIFY(lines.at(0).contains(QStringLiteral("Fendrel software")));
    QVERIFY(lines.at(0).endsWith(QLatin1Char(',')));
    const QUrl site(lines.at(1));
    QCOMPARE(site.host(), QUrl(QString::fromLatin1(MainWindow::websiteUrl)).host());
}

void TestMainWindow::helpIndexOpensIndependentDialogs()
{
    QPointer<HelpDialog> first;
    QPointer<HelpDialog> second;
    {
        MainWindow window;
        QAction *index = window.findChild<QAction *>(QStringLiteral("actionIndex"));
        index->trigger();
        index->trigger();
        const QList<HelpDialog *> dialogs = window.findChildren<HelpDialog *>();
        QCOMPARE(dialogs.size(), 2);
        first = dialogs.at(0);
        second = dialogs.at(1);
        QVERIFY(first->isVisible() && second->isVisible());
        QVERIFY(!first->isModal());
        QVERIFY(QApplication::activeModalWidget() == nullptr);
        first->reject();
        QTRY_VERIFY(first.isNull()); // a closed dialog is deleted, not kept
        QVERIFY(second->isVisible());
        index->trigger();
        QCOMPARE(window.findChildren<HelpDialog *>().size(), 2);
        second->close();
        QTRY_VERIFY(second.isNull());
    }
    QVERIFY(first.isNull());
    QVERIFY(second.isNull());
}

void TestMainWindow::canvasStartsWithoutTool()
{
    MainWindow window;
    auto *view = window.findChild<CZefGraphicsView *>(QStringLiteral("graphicsView"));
    QVERIFY(view->toolMode < 3 || view->toolMode > 6);
    QVERIFY(view->scene());
    QVERIFY(view->scene()->items().isEmpty());
}

void TestMainWindow::shortcuts_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<int>("standard");
    QTest::addColumn<QList<QKeySequence>>("extra");
    QTest::newRow("open") << "actionOpen" << int(QKeySequence::Open) << QList<QKeySequence>();
    QTest::newRow("save") << "actionSave" << int(QKeySequence::Save)
                          << QList<QKeySequence>{QKeySequence(Qt::CTRL | Qt::Key_S)};
    QTest::newRow("save as") << "actionSave_As" << int(QKeySequence::SaveAs)
                             << QList<QKeySequence>{QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S)};
    QTest::newRow("quit") << "actionQuit" << int(QKeySequence::Quit) << QList<QKeySequence>();
    QTest::newRow("help index") << "actionIndex" << int(QKeySequence::HelpContents) << QList<QKeySequence>();
    QTest::newRow("zoom in") << "actionZoom_In" << int(QKeySequence::ZoomIn)
                             << QList<QKeySequence>{QKeySequence(Qt::CTRL | Qt::Key_Equal), QKeySequence(Qt::Key_Plus),
                                                    QKeySequence(Qt::Key_Equal)};
    QTest::newRow("zoom out") << "actionZoom_Out" << int(QKeySequence::ZoomOut)
                              << QList<QKeySequence>{QKeySequence(Qt::Key_Minus)};
    QTest::newRow("fit to window") << "actionFitToWindow" << int(QKeySequence::UnknownKey)
                                   << QList<QKeySequence>{QKeySequence(Qt::CTRL | Qt::Key_0)};
    QTest::newRow("actual size") << "actionActualSize" << int(QKeySequence::UnknownKey)
                                 << QList<QKeySequence>{QKeySequence(Qt::CTRL | Qt::Key_1)};
    QTest::newRow("smaller brush") << "actionSmallerBrush" << int(QKeySequence::UnknownKey)
                                   << QList<QKeySequence>{QKeySequence(Qt::Key_BracketLeft)};
    QTest::newRow("larger brush") << "actionLargerBrush" << int(QKeySequence::UnknownKey)
                                  << QList<QKeySequence>{QKeySequence(Qt::Key_BracketRight)};
}

void TestMainWindow::shortcuts()
{
    QFETCH(QString, action);
    QFETCH(int, standard);
    QFETCH(QList<QKeySequence>, extra);
    MainWindow window;
    QAction *target = window.findChild<QAction *>(action);
    QVERIFY(target);
    // Whatever the platform binds to the standard key (some bind nothing to
    // Save As or Quit), and the extra key everywhere.
    QList<QKeySequence> expected = QKeySequence::keyBindings(QKeySequence::StandardKey(standard));
    for (const QKeySequence &key : std::as_const(extra))
        if (!expected.contains(key))
            expected.append(key);
    for (const QKeySequence &key : std::as_const(expected))
        QVERIFY2(target->shortcuts().contains(key), qPrintable(key.toString()));
    QCOMPARE(target->shortcuts().size(), expected.size());
    // Reachable from the window whether or not a menu shows the action.
    QVERIFY(window.actions().contains(target) || !target->associatedObjects().isEmpty());
}

void TestMainWindow::titleShowsThePhotoAndUnsavedWork()
{
    const QString photo = writePhoto(dir, QStringLiteral("camera.png"), QSize(60, 40));
    Work work(photo);
    MainWindow &window = work.window;
    QUndoStack *history = work.view->undoStack;
    QCOMPARE(window.windowTitle(), QStringLiteral("camera.png[*]"));

    history->undo(); // back to the photo as opened
    QVERIFY(!window.isWindowModified());
    history->redo();
    QVERIFY(window.isWindowModified());

    QEvent change(QEvent::LanguageChange);
    QApplication::sendEvent(&window, &change);
    QCOMPARE(window.windowTitle(), QStringLiteral("camera.png[*]"));

    TestSupport::answerFileDialog(dir.filePath(QStringLiteral("title-saved.png")));
    work.trigger("actionSave_As");
    QVERIFY(!window.isWindowModified());

    MainWindow empty;
    QCOMPARE(empty.windowTitle(), QStringLiteral("Brivela"));
}

void TestMainWindow::unsavedWorkIsAskedAbout_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QMessageBox::StandardButton>("answer");
    QTest::addColumn<QString>("saveAs"); // the name given to the save dialog; null: cancelled
    QTest::addColumn<bool>("goesOn");

    const QString none;
    const QString good = QStringLiteral("saved.png");
    const QString failing = QStringLiteral("no-such-folder/saved.png");
    for (const char *command : {"close", "quit", "open"}) {
        QTest::addRow("%s, cancel", command) << command << QMessageBox::Cancel << none << false;
        QTest::addRow("%s, discard", command) << command << QMessageBox::Discard << none << true;
        QTest::addRow("%s, save", command) << command << QMessageBox::Save << good << true;
        QTest::addRow("%s, save cancelled", command) << command << QMessageBox::Save << none << false;
        QTest::addRow("%s, save fails", command) << command << QMessageBox::Save << failing << false;
    }
}

void TestMainWindow::unsavedWorkIsAskedAbout()
{
    QFETCH(QString, command);
    QFETCH(QMessageBox::StandardButton, answer);
    QFETCH(QString, saveAs);
    QFETCH(bool, goesOn);

    const QString photo = writePhoto(dir, QStringLiteral("camera.png"), QSize(60, 40));
    const QString next = writePhoto(dir, QStringLiteral("next.png"), QSize(30, 20));
    QDir(dir.path()).remove(QStringLiteral("saved.png"));
    const QString saved = saveAs.isNull() ? QString() : dir.filePath(saveAs);
    Work work(photo);
    const int steps = work.view->undoStack->count();

    // Save goes through the save dialog; Open going on shows the open dialog.
    const auto openDialog = [&] {
        if (command == QLatin1String("open") && goesOn)
            TestSupport::answerFileDialog(next);
    };
    QString question;
    TestSupport::answerMessageBox(answer, &question, [&] {
        if (answer == QMessageBox::Save)
            TestSupport::answerFileDialog(saved, false, openDialog);
        else
            openDialog();
    });
    if (command == QLatin1String("close"))
        QCOMPARE(work.window.close(), goesOn);
    else
        work.trigger(command == QLatin1String("quit") ? "actionQuit" : "actionOpen");

    QCOMPARE(question, QStringLiteral("Save changes to camera.png?"));
    const QString written = dir.filePath(QStringLiteral("saved.png"));
    QCOMPARE(QFile::exists(written), answer == QMessageBox::Save && goesOn);
    if (QFile::exists(written)) {
        QImage expected = QImage(photo).convertToFormat(QImage::Format_ARGB32);
        QPainter(&expected).drawImage(0, 0, work.painted);
        QCOMPARE(QImage(written).convertToFormat(QImage::Format_ARGB32), expected);
    }
    if (!goesOn) {
        // Every stroke stays, and still counts as unsaved.
        QVERIFY(work.window.isVisible());
        QCOMPARE(work.layerImage(), work.painted);
        QCOMPARE(work.view->undoStack->count(), steps);
        QVERIFY(work.window.isWindowModified());
    } else if (command == QLatin1String("open")) {
        QCOMPARE(work.layer()->boundingRect(), QRectF(0, 0, 30, 20));
        QCOMPARE(work.window.windowTitle(), QStringLiteral("next.png[*]"));
        QVERIFY(!work.window.isWindowModified());
    } else {
        QVERIFY(!work.window.isVisible());
    }
}

void TestMainWindow::laterSuccessClearsTheStatus_data()
{
    QTest::addColumn<bool>("bySave");
    QTest::newRow("save") << true;
    QTest::newRow("open") << false;
}

void TestMainWindow::laterSuccessClearsTheStatus()
{
    QFETCH(bool, bySave);
    const QString photo = writePhoto(dir, QStringLiteral("status.png"), QSize(8, 8));
    MainWindow window;
    TestSupport::answerFileDialog(photo);
    window.findChild<QAction *>(QStringLiteral("actionOpen"))->trigger();
    QVERIFY(window.statusBar()->currentMessage().isEmpty());

    TestSupport::answerFileDialog(dir.filePath(QStringLiteral("status.nosuchformat")));
    window.findChild<QAction *>(QStringLiteral("actionSave_As"))->trigger();
    QVERIFY(!window.statusBar()->currentMessage().isEmpty());

    TestSupport::answerFileDialog(bySave ? dir.filePath(QStringLiteral("status-saved.png")) : photo);
    window.findChild<QAction *>(bySave ? QStringLiteral("actionSave_As") : QStringLiteral("actionOpen"))->trigger();
    // The failure is gone; a save says it succeeded instead.
    QCOMPARE(window.statusBar()->currentMessage(), bySave ? QStringLiteral("Saved status-saved.png") : QString());
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
