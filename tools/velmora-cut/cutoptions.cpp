#include "cutoptions.h"

#include <QCommandLineParser>
#include <QRegularExpression>

#ifndef VELMORA_VERSION
#define VELMORA_VERSION "unknown"
#endif

namespace
{

const char *const kOutlineHelp = R"(
Outline file: one event per line, coordinates in picture pixels, "#" starts a comment.
  click X Y   a left press at pixel (X, Y); the first press of a trace snaps to the
              strongest edge nearby, each further press confirms the stretch that follows
              the edges from the last point (as --trace says), and closes the trace when it
              lands within the probe size (Manhattan) of the trace's first point
  close       a left press on the trace's first point, which always closes the trace
  abandon     a right press: ends the trace, keeps its confirmed stretches
  undo        takes back the newest confirmed stretch
  invert      swaps inside and outside of the selection (cannot be undone)
--click points are replayed after the outline's events, followed by a close.
--invert appends a final invert.

Exit status: 0 all pictures written, 1 some failed, 2 bad command line (nothing written).
)";

CutCommandLine refuse(const QString &message)
{
    CutCommandLine result;
    result.action = CutCommandLine::Refuse;
    result.message = message;
    return result;
}

QString quoted(const QString &text)
{
    return QLatin1Char('"') + argumentShown(text) + QLatin1Char('"');
}

// Format characters that only steer the layout, and could make a shown name read differently
// from the bytes it has (bidirectional overrides, zero-width spaces); the joiners stay, since
// scripts and emoji need them.
bool isInvisible(char32_t code)
{
    const QChar::Category category = QChar::category(code);
    if (category == QChar::Other_Format)
        return code != 0x200c && code != 0x200d;
    return category == QChar::Other_Control || category == QChar::Separator_Line
        || category == QChar::Separator_Paragraph;
}

QString escaped(char32_t code)
{
    switch (code) {
    case 0:
        return QStringLiteral("\\0");
    case '\t':
        return QStringLiteral("\\t");
    case '\n':
        return QStringLiteral("\\n");
    case '\r':
        return QStringLiteral("\\r");
    default:
        break;
    }
    if (code < 0x100)
        return QStringLiteral("\\x%1").arg(uint(code), 2, 16, QLatin1Char('0'));
    if (code < 0x10000)
        return QStringLiteral("\\u%1").arg(uint(code), 4, 16, QLatin1Char('0'));
    return QStringLiteral("\\U%1").arg(uint(code), 8, 16, QLatin1Char('0'));
}

// The length of the UTF-8 sequence a byte starts; 0 for a byte that starts none.
int sequenceLength(uchar lead)
{
    if (lead < 0x80)
        return 1;
    if ((lead & 0xe0) == 0xc0)
        return 2;
    if ((lead & 0xf0) == 0xe0)
        return 3;
    if ((lead & 0xf8) == 0xf0)
        return 4;
    return 0;
}

} // namespace

QString printable(const QString &text)
{
    QString shown;
    shown.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            const char32_t code = QChar::surrogateToUcs4(c, text.at(i + 1));
            if (isInvisible(code))
                shown += escaped(code);
            else
                shown.append(c).append(text.at(i + 1));
            ++i;
        } else if (c.isSurrogate() || isInvisible(c.unicode())) {
            shown += escaped(c.unicode());
        } else {
            shown += c;
        }
    }
    return shown;
}

bool isValidUtf8(const QByteArray &bytes)
{
    // Undecodable bytes come back as U+FFFD, so only valid UTF-8 survives the round trip.
    return QString::fromUtf8(bytes).toUtf8() == bytes;
}

QString printableBytes(const QByteArray &bytes)
{
    QString shown;
    for (qsizetype i = 0; i < bytes.size();) {
        const qsizetype length = sequenceLength(uchar(bytes.at(i)));
        const QByteArray sequence = bytes.mid(i, length);
        if (length > 0 && sequence.size() == length && isValidUtf8(sequence)) {
            shown += printable(QString::fromUtf8(sequence));
            i += length;
        } else {
            shown += escaped(uchar(bytes.at(i)));
            ++i;
        }
    }
    return shown;
}

QString undecodableArgument(const QByteArray &bytes)
{
    return QChar(0) + printableBytes(bytes);
}

bool isUndecodableArgument(const QString &argument)
{
    return argument.startsWith(QChar(0));
}

QString argumentShown(const QString &argument)
{
    return isUndecodableArgument(argument) ? argument.mid(1) : argument;
}

QColor parseBackground(const QString &text)
{
    const QString name = text.trimmed().toLower();
    if (name == QLatin1String("white"))
        return QColor(Qt::white);
    if (name == QLatin1String("transparent"))
        return QColor(Qt::transparent);

    static const QRegularExpression hex(QStringLiteral("^#([0-9a-f]{6}|[0-9a-f]{8})$"));
    if (!hex.match(name).hasMatch())
        return {};
    // QColor reads eight digits as #AARRGGBB; ours put alpha last, as CSS does.
    const uint value = name.mid(1).toUInt(nullptr, 16);
    if (name.size() == 7)
        return QColor::fromRgb(value >> 16 & 0xff, value >> 8 & 0xff, value & 0xff);
    return QColor::fromRgb(value >> 24 & 0xff, value >> 16 & 0xff, value >> 8 & 0xff, value & 0xff);
}

CutCommandLine parseCommandLine(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Cuts an object out of one or many pictures by replaying an outline with the smart "
        "selection of Velmora, and writes each result over a background."));
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption versionOption(
        { QStringLiteral("v"), QStringLiteral("version") }, QStringLiteral("Shows the version."));
    const QCommandLineOption outputOption({ QStringLiteral("o"), QStringLiteral("output") },
        QStringLiteral("Output file for one input; folder for several (made if missing), where "
                       "each result is named after its input."),
        QStringLiteral("PATH"));
    const QCommandLineOption outlineOption(QStringLiteral("outline"),
        QStringLiteral("The outline to replay (see below)."), QStringLiteral("FILE"));
    const QCommandLineOption clickOption(QStringLiteral("click"),
        QStringLiteral("A left press at picture pixel X,Y; repeat for every point."),
        QStringLiteral("X,Y"));
    const QCommandLineOption backgroundOption(QStringLiteral("background"),
        QStringLiteral("What shows outside the object: white (default), transparent, #RRGGBB "
                       "or #RRGGBBAA."),
        QStringLiteral("COLOUR"));
    const QCommandLineOption invertOption(
        QStringLiteral("invert"), QStringLiteral("Inverts the selection at the end."));
    const QCommandLineOption probeOption(QStringLiteral("probe"),
        QStringLiteral("Width and height of the probe around each press, in picture pixels "
                       "(default 10, as in the window at zoom 1)."),
        QStringLiteral("N"));
    const QCommandLineOption traceOption(QStringLiteral("trace"),
        QStringLiteral("How each press follows the edges from the last point: walk (default; "
                       "the window with Follow edges: shortest path off) or path (the cheapest "
                       "path through the edge strengths; that toggle on)."),
        QStringLiteral("MODE"));
    const QCommandLineOption formatOption(QStringLiteral("format"),
        QStringLiteral("png or jpg; default: from the output's suffix, PNG otherwise. An output "
                       "file whose suffix names another format is refused."),
        QStringLiteral("FORMAT"));
    const QCommandLineOption edgesOption(QStringLiteral("edges"),
        QStringLiteral("Also writes the edge strengths (0 to 765) as a 16-bit grey PNG: a file "
                       "for one input, a folder for several (<name>.edges.png)."),
        QStringLiteral("PATH"));
    const QCommandLineOption quietOption(
        { QStringLiteral("q"), QStringLiteral("quiet") }, QStringLiteral("Prints only errors."));
    parser.addOptions({ versionOption, outputOption, outlineOption, clickOption, backgroundOption,
        invertOption, probeOption, traceOption, formatOption, edgesOption, quietOption });
    parser.addPositionalArgument(QStringLiteral("INPUT"), QStringLiteral("Pictures to cut out."),
        QStringLiteral("INPUT..."));

    if (!parser.parse(arguments))
        return refuse(parser.errorText() + QStringLiteral(" (see --help)"));

    CutCommandLine result;
    if (parser.isSet(helpOption)) {
        result.action = CutCommandLine::ShowHelp;
        result.message = parser.helpText() + QString::fromUtf8(kOutlineHelp);
        return result;
    }
    if (parser.isSet(versionOption)) {
        result.action = CutCommandLine::ShowVersion;
        result.message = QStringLiteral("velmora-cut " VELMORA_VERSION "\n");
        return result;
    }

    CutOptions &options = result.options;
    options.quiet = parser.isSet(quietOption);

    if (parser.isSet(probeOption)) {
        bool ok = false;
        const QString text = parser.value(probeOption);
        options.probeSize = text.toInt(&ok, 10);
        if (!ok || options.probeSize < 1 || options.probeSize > kMaxProbeSize)
            return refuse(QStringLiteral("--probe: expected a whole number from 1 to %1, got %2")
                              .arg(kMaxProbeSize)
                              .arg(quoted(text)));
    }

    if (parser.isSet(traceOption)) {
        const QString text = parser.value(traceOption).toLower();
        if (text == QLatin1String("walk"))
            options.trace = TraceMode::Walk;
        else if (text == QLatin1String("path"))
            options.trace = TraceMode::ShortestPath;
        else
            return refuse(QStringLiteral("--trace: expected walk or path, got %1")
                              .arg(quoted(parser.value(traceOption))));
    }

    if (parser.isSet(backgroundOption)) {
        const QString text = parser.value(backgroundOption);
        options.background = parseBackground(text);
        if (!options.background.isValid())
            return refuse(QStringLiteral("--background: expected white, transparent, #RRGGBB or "
                                         "#RRGGBBAA, got %1")
                              .arg(quoted(text)));
    }

    if (parser.isSet(formatOption)) {
        const QString text = parser.value(formatOption).toLower();
        if (text == QLatin1String("png"))
            options.format = "png";
        else if (text == QLatin1String("jpg") || text == QLatin1String("jpeg"))
            options.format = "jpg";
        else
            return refuse(QStringLiteral("--format: expected png or jpg, got %1")
                              .arg(quoted(parser.value(formatOption))));
    }

    // Qt could open none of these files by a name it cannot decode.
    for (const QCommandLineOption *option : { &outlineOption, &outputOption, &edgesOption }) {
        const QString value = parser.value(*option);
        if (isUndecodableArgument(value))
            return refuse(QStringLiteral("--%1 %2: the file name is not valid UTF-8")
                              .arg(option->names().constLast(), argumentShown(value)));
    }

    if (parser.isSet(outlineOption)) {
        QString error;
        if (!readOutline(parser.value(outlineOption), &options.events, &error))
            return refuse(error);
        if (options.events.isEmpty())
            return refuse(
                QStringLiteral("%1: the outline holds no events").arg(parser.value(outlineOption)));
    }

    const QStringList clicks = parser.values(clickOption);
    for (const QString &text : clicks) {
        OutlineEvent click;
        if (!parseClick(text, &click.pixel))
            return refuse(QStringLiteral("--click: expected X,Y in whole picture pixels, got %1")
                              .arg(quoted(text)));
        options.events.append(click);
    }
    // A press on the start closes the trace; after a last click that already closed it,
    // there is no trace and the press is left out.
    if (!clicks.isEmpty())
        options.events.append({ OutlineEvent::Close, QPoint(), 0 });
    if (parser.isSet(invertOption))
        options.events.append({ OutlineEvent::Invert, QPoint(), 0 });

    options.output = parser.value(outputOption);
    options.edges = parser.value(edgesOption);
    options.inputs = parser.positionalArguments();

    if (options.inputs.isEmpty())
        return refuse(QStringLiteral("no input pictures (see --help)"));
    if (options.events.isEmpty() && options.edges.isEmpty())
        return refuse(QStringLiteral("nothing to do: give an outline (--outline or --click), "
                                     "or --edges (see --help)"));
    if (!options.events.isEmpty() && options.output.isEmpty())
        return refuse(QStringLiteral("missing --output: where to write the results"));
    if (options.events.isEmpty() && !options.output.isEmpty())
        return refuse(QStringLiteral("--output needs an outline (--outline or --click)"));

    result.action = CutCommandLine::Run;
    return result;
}
