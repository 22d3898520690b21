#include "app/mainwindow.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QList>
#include <QPair>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

bool platformChosen(int argc, char **argv)
{
    if (qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        return true;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "--platform") == 0)
            return true;
    }
    return false;
}

// Without a display the toolkit aborts with a long explanation and a core
// dump; a desktop user is better served by one line and a plain failure.
bool displayMissing(int argc, char **argv)
{
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS) && !defined(Q_OS_ANDROID)
    return !platformChosen(argc, argv) && qEnvironmentVariableIsEmpty("DISPLAY")
        && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
#else
    Q_UNUSED(argc);
    Q_UNUSED(argv);
    return false;
#endif
}

// Help and version are answered on standard output, with no display needed.
bool asksOnlyForText(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0)
            return false;
        for (const char *option : {"-h", "-?", "--help", "--help-all", "-v", "--version"}) {
            if (std::strcmp(argv[i], option) == 0)
                return true;
        }
    }
    return false;
}

void describeOptions(QCommandLineParser &parser)
{
    parser.setApplicationDescription(
        QCoreApplication::translate("main", "Colours black-and-white photos with a brush."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("file"), QCoreApplication::translate("main", "The photo to open."),
                                 QStringLiteral("[file]"));
}

QtMessageHandler defaultHandler = nullptr;
QList<QPair<QtMsgType, QString>> startupMessages;

// A display that is named but cannot be reached only shows up while the
// application object is being made: a few warnings, then a fatal message.
// Those become one line; the warnings of a start that succeeds are passed on.
void startupMessageHandler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    Q_UNUSED(context);
    if (type != QtFatalMsg) {
        startupMessages.append({type, message});
        return;
    }
    const QString reason = startupMessages.isEmpty() ? message : startupMessages.constFirst().second;
    std::fprintf(stderr, "brivela: cannot open a window: %s\n", qPrintable(reason.section(QLatin1Char('\n'), 0, 0)));
    std::_Exit(EXIT_FAILURE);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication::setApplicationVersion(QStringLiteral(BRIVELA_VERSION));
    QCommandLineParser parser;
    describeOptions(parser);

    if (asksOnlyForText(argc, argv)) {
        QCoreApplication app(argc, argv);
        // The settings store's name carries the version; the answer needs it once.
        QCoreApplication::setApplicationName(QStringLiteral("Brivela"));
        parser.process(app); // answers and exits
        return EXIT_SUCCESS;
    }

    if (displayMissing(argc, argv)) {
        std::fputs("brivela: no display found (DISPLAY is not set); run it from a desktop session\n", stderr);
        return EXIT_FAILURE;
    }

    defaultHandler = qInstallMessageHandler(startupMessageHandler);
    QApplication app(argc, argv);
    qInstallMessageHandler(defaultHandler);
    for (const auto &[type, message] : std::as_const(startupMessages)) {
        if (defaultHandler)
            defaultHandler(type, QMessageLogContext(), message);
    }
    startupMessages.clear();

    QApplication::setApplicationName(QStringLiteral("Brivela 1.0"));
    QApplication::setOrganizationName(QStringLiteral("Fendrel software"));
    QGuiApplication::setDesktopFileName(QStringLiteral("com.fendrelsoftware.Brivela"));
    parser.process(app);

    int status = 0;
    {
        MainWindow window;
        window.show();
        if (!parser.positionalArguments().isEmpty())
            window.openFile(parser.positionalArguments().constFirst());
        QTimer::singleShot(0, &window, &MainWindow::offerRecovery);
        status = app.exec();
    }
    return status;
}
