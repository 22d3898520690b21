#ifndef TOOLCHOOSER_H
#define TOOLCHOOSER_H

#include <QHash>
#include <QKeySequence>
#include <QList>
#include <QObject>

class CanvasDocument;
class CZefGraphicsView;
class QAction;
class QActionGroup;

// The tool bar's choice of canvas tool: one checkable action per tool, only
// one checked at a time, each with its icon and key. The checked tool is the
// canvas's once a photo is open. A tool may name a command that Return (and
// Enter) then triggers as well, as long as that tool is chosen.
class ToolChooser : public QObject
{
    Q_OBJECT

public:
    ToolChooser(CZefGraphicsView *view, CanvasDocument *document, QObject *parent = nullptr);

    void addTool(QAction *action, int toolId, const char *icon, const QKeySequence &key,
                 QAction *returnCommand = nullptr);
    // A command of the tool bar that chooses no tool.
    void addCommand(QAction *action, const char *icon, const QKeySequence &key);

    // Checks the tool's action and gives the canvas that tool.
    void choose(int toolId);
    // Gives the canvas the checked tool.
    void apply();

    // The icon of the resource pair NAME.png and NAME@2x.png.
    static QIcon icon(const char *name);

private:
    struct Tool {
        QAction *action;
        int id;
        QAction *returnCommand;
    };

    CZefGraphicsView *view;
    CanvasDocument *document;
    QActionGroup *group;
    QList<Tool> tools;
    // Each command's own keys, before Return was added to them.
    QHash<QAction *, QList<QKeySequence>> commandKeys;
};

#endif // TOOLCHOOSER_H
