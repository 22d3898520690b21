#ifndef MODALANSWERER_H
#define MODALANSWERER_H

#include <QColor>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <functional>

// Answers every modal dialog that opens while it lives, in whatever order the
// window shows them: the next file dialog gets the expected name, the next
// colour dialog the expected colour, the file dialog's "replace?" question
// Yes when that was asked for, any other question Discard where it offers one
// (the unsaved-work question), and anything unexpected is cancelled. The
// long-running drivers need this rather than one-shot answers, because a
// question may come before the dialog a command was expected to show.
class ModalAnswerer : public QObject
{
    Q_OBJECT

public:
    ModalAnswerer();

    void expectFile(const QString &fileName, bool replace = false)
    {
        pendingFile = fileName;
        pendingReplace = replace;
    }
    void expectColour(const QColor &colour) { pendingColour = colour; }
    // Questions answered so far, with their texts.
    QStringList questions;

private:
    void answer();
    // Runs `action` on `modal` once the poll is over, if it is still shown.
    void act(QWidget *modal, const std::function<void()> &action);

    QTimer poll;
    bool acting = false;
    QString pendingFile;
    bool pendingReplace = false;
    QColor pendingColour;
};

#endif // MODALANSWERER_H
