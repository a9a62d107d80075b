#include "mainwindow.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QPixmapCache>
#include <QTimer>

#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    // Named before the window exists: its settings take these names.
    QCoreApplication::setApplicationName(QStringLiteral("Velmora 1.0"));
    QCoreApplication::setOrganizationName(QStringLiteral("Parvel software"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Cuts an object out of a photograph."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("picture"),
        QStringLiteral("A picture to open at start."), QStringLiteral("[picture]"));
    parser.process(app);
    const QStringList pictures = parser.positionalArguments();
    if (pictures.size() > 1) {
        std::fprintf(stderr, "velmora: one picture at a time; opening %s only\n",
            qPrintable(pictures.first()));
    }

    // The canvas keeps what it shows as cached pixmaps (the picture, the outline's pieces),
    // each up to a whole view's worth: room for a large screen.
    QPixmapCache::setCacheLimit(160 * 1024);
    MainWindow window;
    QObject::connect(&window, &MainWindow::mwquit, &app, &QApplication::quit);
    window.show();
    // Opened from the event loop, so the window is on screen while the picture is analysed.
    if (!pictures.isEmpty())
        QTimer::singleShot(
            0, &window, [&window, &pictures] { window.openPicture(pictures.first()); });
    return app.exec();
}
