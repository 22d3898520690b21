#include "testsupport.h"
#include "ui/helpdialog.h"
#include "ui_helpdialog.h"

#include <QDialogButtonBox>
#include <QPushButton>
#include <QTextBlock>
#include <QTextBrowser>
#include <QVBoxLayout>
#include <QtTest>

class TestHelpDialog : public QObject
{
    Q_OBJECT

private slots:
    void builtAsDescribed();
    void keepsAnObjectNameItWasGiven_data();
    void keepsAnObjectNameItWasGiven();
    void pageReadsAsDescribed();
    void okAndCancelOnlyHide_data();
    void okAndCancelOnlyHide();
    void languageChangeReappliesTitleAndPage();
};

void TestHelpDialog::builtAsDescribed()
{
    HelpDialog dialog;
    QCOMPARE(dialog.objectName(), QStringLiteral("HelpDialog"));
    QCOMPARE(dialog.size(), QSize(400, 300));
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Dialog"));
    QVERIFY(!dialog.isVisible());

    auto *layout = qobject_cast<QVBoxLayout *>(dialog.layout());
    QVERIFY(layout);
    QCOMPARE(layout->objectName(), QStringLiteral("verticalLayout"));
    QCOMPARE(layout->count(), 2);
    QCOMPARE(layout->itemAt(0)->widget()->objectName(), QStringLiteral("textBrowser"));
    auto *buttons = qobject_cast<QDialogButtonBox *>(layout->itemAt(1)->widget());
    QVERIFY(buttons);
    QCOMPARE(buttons->orientation(), Qt::Horizontal);
    QCOMPARE(buttons->standardButtons(), QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    QCOMPARE(buttons->buttons().size(), 2);
}

void TestHelpDialog::keepsAnObjectNameItWasGiven_data()
{
    QTest::addColumn<QString>("given");
    QTest::addColumn<QString>("expected");
    QTest::newRow("named before the form") << "mine"
                                           << "mine";
    QTest::newRow("unnamed") << ""
                             << "HelpDialog";
}

// The form names only a dialog that has no name yet; the name must be there
// before the form is set up, so the form is applied here to a plain dialog.
void TestHelpDialog::keepsAnObjectNameItWasGiven()
{
    QFETCH(QString, given);
    QFETCH(QString, expected);
    QDialog dialog;
    dialog.setObjectName(given);
    Ui_HelpDialog form;
    form.setupUi(&dialog);
    QCOMPARE(dialog.objectName(), expected);
}

void TestHelpDialog::pageReadsAsDescribed()
{
    HelpDialog dialog;
    QTextDocument *page = dialog.findChild<QTextBrowser *>(QStringLiteral("textBrowser"))->document();
    QCOMPARE(page->blockCount(), 18);
    QStringList lines;
    for (QTextBlock block = page->begin(); block.isValid(); block = block.next())
        lines.append(block.text());
    QVERIFY(lines.at(0).startsWith(QStringLiteral("Brivela ")));
    const QStringList expected = {
        QString(),
        QStringLiteral("The program has just few controls:"),
        QStringLiteral("1. Color selection button - lets you select the brush color."),
        QStringLiteral("2. Brush size slider."),
        QStringLiteral("3. Zoom In and Out buttons"),
        QString(),
        QStringLiteral("Use the File->Open and File->Save As menu commands for file "
                       "opening/saving."),
        QString(),
        QStringLiteral("The Website button will open our website in your web browser so "
                       "you can download more digital photo tools."),
        QString(),
        QStringLiteral("Have fun!"),
        QStringLiteral("To erase colour, paint over it with the right mouse button. "
                       "Edit->Undo (Ctrl+Z) takes back the last stroke, from press to "
                       "release, and Edit->Redo (Ctrl+Shift+Z) gives it back."),
        QStringLiteral("To colour a whole area at once, choose Keep marks on the tool bar "
                       "(K) and scribble inside the area, choose Remove marks (R) and "
                       "scribble outside it, then choose Fill marked area (F or Return). "
                       "While a marker tool is chosen, an amber outline shows after each "
                       "scribble the area that Fill will colour, found along the photo's "
                       "own edges: add marks until it is right. Fill colours that area "
                       "with the brush colour, softly where the photo's edge is soft; "
                       "Edit->Undo gives the marks back. When the fill reaches the "
                       "photo's edge or colours only a small area, the status bar says "
                       "so: undo and add marks."),
        QStringLiteral("To colour the whole photo from a few scribbles, choose Colour marks "
                       "(C) and scribble a short line in each area in the colour it should "
                       "have, picking the colour with Color between lines; the right mouse "
                       "button takes colour marks off again. While Colour marks is chosen, "
                       "a preview of the result shows over the photo after each line. "
                       "Spread colours (S or Return) then colours every pixel that is not "
                       "coloured yet: colour flows through areas of even brightness and "
                       "stops at the photo's edges. Brush work and fills stay as they are, "
                       "and a white, grey or black mark keeps its area uncoloured. "
                       "Edit->Undo takes the spread back and gives the marks back."),
        QStringLiteral("For colour that looks like a colour photo, switch on Natural "
                       "colour on the tool bar: the colour then keeps the brightness of "
                       "the photo under it. Strength sets how much colour a stroke lays "
                       "and Softness how far in from its rim the brush fades. To take a "
                       "colour from the picture, hold Alt and click with the brush, or "
                       "choose Pick colour (I) and click; File->Open reference photo... "
                       "shows a colour photo beside yours to click colours from. The "
                       "swatches on the tool bar hold the brush colour and the last 12 "
                       "colours used; click one to paint with it again."),
        QStringLiteral("File->Save (Ctrl+S) writes your work to the file it was last saved "
                       "to, in that file's format; the first time it asks for a name, as "
                       "File->Save As (Ctrl+Shift+S) always does. To go on another day, "
                       "save as Brivela work (.ora): it keeps the photo, its colouring and "
                       "the marks, so the eraser still brings the photo back, and other "
                       "painting programs open it as layers. JPG (quality 100, full colour "
                       "detail) and PNG hold the coloured photo only, with the photo's "
                       "date, camera, colour profile and XMP; the marks are not kept in "
                       "them. Painting goes on while a file is written."),
        QStringLiteral(
            "Keyboard and mouse: the left button paints and the right button erases; Alt+click takes the "
            "colour under the pointer. B chooses the brush, K keep marks, R remove marks and C colour marks "
            "(whose right button takes colour marks off); F, or Return with a keep or remove marker, fills; "
            "S, or Return with colour marks, spreads the colours; I picks one colour. [ and ] make the brush "
            "smaller and larger. Space held with the left button, or the middle button, drags the photo with "
            "any tool. The wheel scrolls, Shift+wheel sideways, and Ctrl+wheel zooms about the pointer. + "
            "and - (or Ctrl++ and Ctrl+-) zoom in and out, Ctrl+0 fits the photo to the window and Ctrl+1 "
            "shows it at actual size. Hold \\ to see the photo as it was, without its colouring and marks. "
            "Ctrl+Z undoes and Ctrl+Shift+Z redoes, Ctrl+O opens a photo, Ctrl+S saves, Ctrl+Shift+S saves "
            "as, and F1 shows this page.")};
    QCOMPARE(lines.mid(1), expected);

    // The product name alone is bold.
    QTextBlock first = page->begin();
    const QTextFragment name = first.begin().fragment();
    QCOMPARE(name.text(), QStringLiteral("Brivela"));
    QVERIFY(name.charFormat().fontWeight() > QFont::Normal);
    QCOMPARE((++first.begin()).fragment().charFormat().fontWeight(), int(QFont::Normal));
    QVERIFY(page->toPlainText().size() > 300);
    for (const QChar c : page->toHtml())
        QVERIFY(c.unicode() < 128);
}

void TestHelpDialog::okAndCancelOnlyHide_data()
{
    QTest::addColumn<QDialogButtonBox::StandardButton>("which");
    QTest::addColumn<int>("result");
    QTest::newRow("OK") << QDialogButtonBox::Ok << int(QDialog::Accepted);
    QTest::newRow("Cancel") << QDialogButtonBox::Cancel << int(QDialog::Rejected);
}

void TestHelpDialog::okAndCancelOnlyHide()
{
    QFETCH(QDialogButtonBox::StandardButton, which);
    QFETCH(int, result);

    QPointer<HelpDialog> dialog = new HelpDialog;
    dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(dialog));
    dialog->findChild<QDialogButtonBox *>()->button(which)->click();
    QVERIFY(dialog);
    QVERIFY(!dialog->isVisible());
    QCOMPARE(dialog->result(), result);
    delete dialog;
}

void TestHelpDialog::languageChangeReappliesTitleAndPage()
{
    HelpDialog dialog;
    auto *browser = dialog.findChild<QTextBrowser *>(QStringLiteral("textBrowser"));
    const QString page = browser->toHtml();
    dialog.setWindowTitle(QStringLiteral("changed"));
    browser->setPlainText(QStringLiteral("changed"));

    QEvent other(QEvent::PaletteChange);
    QApplication::sendEvent(&dialog, &other);
    QCOMPARE(dialog.windowTitle(), QStringLiteral("changed"));

    QEvent change(QEvent::LanguageChange);
    QApplication::sendEvent(&dialog, &change);
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Dialog"));
    QCOMPARE(browser->toHtml(), page);
}

QTEST_MAIN(TestHelpDialog)
#include "tst_helpdialog.moc"
