// velmora-cut: replays a smart-select outline on a batch of pictures and writes the cut-outs.

#include "cutbatch.h"
#include "cutoptions.h"

#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>

int main(int argc, char *argv[])
{
    // Decoding, tracing and painting on QImage need no display, so no GUI application either.
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("velmora-cut"));

    const CutCommandLine commandLine = parseCommandLine(QCoreApplication::arguments());
    QTextStream out(stdout);
    QTextStream err(stderr);
    switch (commandLine.action) {
    case CutCommandLine::ShowHelp:
    case CutCommandLine::ShowVersion:
        out << commandLine.message;
        return 0;
    case CutCommandLine::Refuse:
        err << QStringLiteral("velmora-cut: ") << commandLine.message << Qt::endl;
        return 2;
    case CutCommandLine::Run:
        break;
    }
    return CutBatch(commandLine.options).run(err);
}
