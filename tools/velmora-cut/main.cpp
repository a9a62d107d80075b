// velmora-cut: replays a smart-select outline on a batch of pictures and writes the cut-outs.

#include "cutbatch.h"
#include "cutoptions.h"

#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>

namespace
{

// What Qt and the libraries under it print while pictures are decoded and encoded (libpng,
// libtiff, the image readers) reaches the terminal as the tool's own messages, escaped, since
// it may quote bytes of the file.
void showMessage(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    const bool isError = type == QtCriticalMsg || type == QtFatalMsg;
    const QString kind = isError ? QStringLiteral("error: ")
        : type == QtWarningMsg   ? QStringLiteral("warning: ")
                                 : QString();
    const QByteArray line
        = (QStringLiteral("velmora-cut: ") + kind + printable(message) + QLatin1Char('\n'))
              .toUtf8();
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
}

// With --quiet only errors are printed.
void showErrorMessage(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtCriticalMsg || type == QtFatalMsg)
        showMessage(type, context, message);
}

#ifdef Q_OS_UNIX
// QCoreApplication decodes arguments lossily; a name that is not valid UTF-8 is kept marked,
// so that it can be reported for what it is rather than as a file that is not there.
QStringList rawArguments(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        const QByteArray bytes(argv[i]);
        arguments << (isValidUtf8(bytes) ? QString::fromUtf8(bytes) : undecodableArgument(bytes));
    }
    return arguments;
}
#endif

} // namespace

int main(int argc, char *argv[])
{
    qInstallMessageHandler(showMessage);
#ifdef Q_OS_UNIX
    const QStringList arguments = rawArguments(argc, argv);
#endif
    // Decoding, tracing and painting on QImage need no display, so no GUI application either.
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("velmora-cut"));
#ifndef Q_OS_UNIX
    // Elsewhere Qt reads the command line as UTF-16, with nothing lost.
    const QStringList arguments = QCoreApplication::arguments();
#endif

    const CutCommandLine commandLine = parseCommandLine(arguments);
    QTextStream out(stdout);
    QTextStream err(stderr);
    switch (commandLine.action) {
    case CutCommandLine::ShowHelp:
    case CutCommandLine::ShowVersion:
        out << commandLine.message;
        return 0;
    case CutCommandLine::Refuse:
        err << QStringLiteral("velmora-cut: ") << printable(commandLine.message) << Qt::endl;
        return 2;
    case CutCommandLine::Run:
        break;
    }
    if (commandLine.options.quiet)
        qInstallMessageHandler(showErrorMessage);
    return CutBatch(commandLine.options).run(err);
}
