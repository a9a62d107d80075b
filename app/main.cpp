#include "mainwindow.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    // Named before the window exists: its settings take these names.
    QCoreApplication::setApplicationName(QStringLiteral("Velmora 1.0"));
    QCoreApplication::setOrganizationName(QStringLiteral("Parvel software"));

    MainWindow window;
    QObject::connect(&window, &MainWindow::mwquit, &app, &QApplication::quit);
    window.show();
    return app.exec();
}
