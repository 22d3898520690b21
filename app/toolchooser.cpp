#include "app/toolchooser.h"

#include "canvas/canvasdocument.h"
#include "canvas/czefgraphicsview.h"

#include <QAction>
#include <QActionGroup>
#include <QIcon>

ToolChooser::ToolChooser(CZefGraphicsView *view, CanvasDocument *document, QObject *parent)
    : QObject(parent)
    , view(view)
    , document(document)
    , group(new QActionGroup(this))
{
}

QIcon ToolChooser::icon(const char *name)
{
    QIcon icon;
    // Both sizes, so that a high-density screen gets the sharper one.
    icon.addFile(QStringLiteral(":/%1.png").arg(QLatin1String(name)));
    icon.addFile(QStringLiteral(":/%1@2x.png").arg(QLatin1String(name)));
    return icon;
}

void ToolChooser::addTool(QAction *action, int toolId, const char *iconName, const QKeySequence &key,
                          QAction *returnCommand)
{
    action->setIcon(icon(iconName));
    action->setShortcut(key);
    action->setCheckable(true);
    group->addAction(action);
    tools.append({action, toolId, returnCommand});
    connect(action, &QAction::triggered, this, &ToolChooser::apply);
}

void ToolChooser::addCommand(QAction *action, const char *iconName, const QKeySequence &key)
{
    action->setIcon(icon(iconName));
    action->setShortcut(key);
    commandKeys.insert(action, {key});
}

void ToolChooser::choose(int toolId)
{
    for (const Tool &tool : std::as_const(tools))
        if (tool.id == toolId)
            tool.action->setChecked(true);
    apply();
}

void ToolChooser::apply()
{
    if (!document->hasPhoto())
        return;
    QAction *returns = nullptr;
    for (const Tool &tool : std::as_const(tools)) {
        if (tool.action->isChecked()) {
            view->toolMode = tool.id;
            returns = tool.returnCommand;
        }
    }
    for (auto it = commandKeys.cbegin(); it != commandKeys.cend(); ++it) {
        QList<QKeySequence> keys = it.value();
        if (it.key() == returns)
            keys << QKeySequence(Qt::Key_Return) << QKeySequence(Qt::Key_Enter);
        it.key()->setShortcuts(keys);
    }
}
