#include "outlineevent.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringConverter>

#include <algorithm>

namespace
{

// An outline of a million clicks is still under this; anything bigger is not an outline.
constexpr qint64 kMaxOutlineBytes = 16 * 1024 * 1024;

void setError(QString *error, const QString &text)
{
    if (error)
        *error = text;
}

bool parseCoordinate(const QString &text, int *value)
{
    bool ok = false;
    const int parsed = text.toInt(&ok, 10);
    if (!ok || parsed < -kMaxOutlineCoordinate || parsed > kMaxOutlineCoordinate)
        return false;
    *value = parsed;
    return true;
}

// Quoted for messages, shortened so that a binary file passed by mistake gives one short line.
QString quoted(const QString &word)
{
    constexpr int kShown = 20;
    QString shown = word.left(kShown);
    if (word.size() > kShown)
        shown += QStringLiteral("...");
    return QLatin1Char('"') + shown + QLatin1Char('"');
}

} // namespace

bool parseOutline(
    const QString &text, const QString &sourceName, QList<OutlineEvent> *events, QString *error)
{
    static const QRegularExpression blanks(QStringLiteral("\\s+"));
    QList<OutlineEvent> parsed;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (int i = 0; i < lines.size(); ++i) {
        const int lineNumber = i + 1;
        const auto fail = [&](const QString &reason) {
            setError(
                error, QStringLiteral("%1:%2: %3").arg(sourceName).arg(lineNumber).arg(reason));
            return false;
        };

        QString line = lines.at(i);
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1); // written on Windows
        // Tabs are blanks; anything else below a space is binary, and a NUL would even end a
        // number early for the conversion below.
        const auto control = std::find_if(line.cbegin(), line.cend(),
            [](QChar c) { return c.category() == QChar::Other_Control && c != QLatin1Char('\t'); });
        if (control != line.cend())
            return fail(
                QStringLiteral("control character U+%1 in the line (an outline is "
                               "plain text)")
                    .arg(QString::number(control->unicode(), 16).toUpper(), 4, QLatin1Char('0')));
        const qsizetype comment = line.indexOf(QLatin1Char('#'));
        if (comment >= 0)
            line.truncate(comment);
        const QStringList words = line.split(blanks, Qt::SkipEmptyParts);
        if (words.isEmpty())
            continue;

        const QString word = words.first().toLower();
        OutlineEvent event;
        event.line = lineNumber;
        if (word == QLatin1String("click")) {
            int x = 0;
            int y = 0;
            if (words.size() != 3 || !parseCoordinate(words.at(1), &x)
                || !parseCoordinate(words.at(2), &y))
                return fail(QStringLiteral("\"click\" takes two whole numbers, X and Y "
                                           "(picture pixels, at most %1 either way)")
                                .arg(kMaxOutlineCoordinate));
            event.kind = OutlineEvent::Click;
            event.pixel = QPoint(x, y);
        } else if (word == QLatin1String("close") || word == QLatin1String("abandon")
            || word == QLatin1String("undo") || word == QLatin1String("invert")) {
            if (words.size() != 1)
                return fail(QStringLiteral("\"%1\" takes nothing after it").arg(word));
            event.kind = word == QLatin1String("close") ? OutlineEvent::Close
                : word == QLatin1String("abandon")      ? OutlineEvent::Abandon
                : word == QLatin1String("undo")         ? OutlineEvent::Undo
                                                        : OutlineEvent::Invert;
        } else {
            return fail(QStringLiteral("unknown event %1 (expected click, close, abandon, "
                                       "undo or invert)")
                            .arg(quoted(words.first())));
        }
        parsed.append(event);
    }
    *events = parsed;
    return true;
}

bool readOutline(const QString &fileName, QList<OutlineEvent> *events, QString *error)
{
    const QFileInfo info(fileName);
    if (!info.exists()) {
        // A link that leads nowhere, or round in a loop, names a file that is there.
        if (info.isSymLink()) {
            QFile link(fileName);
            link.open(QIODevice::ReadOnly);
            setError(error,
                QStringLiteral("%1: outline cannot be read (%2)")
                    .arg(fileName, link.errorString()));
        } else {
            setError(error, QStringLiteral("%1: outline file not found").arg(fileName));
        }
        return false;
    }
    // A pipe or a device could block for ever.
    if (!info.isFile()) {
        setError(error, QStringLiteral("%1: outline is not a regular file").arg(fileName));
        return false;
    }
    if (info.size() > kMaxOutlineBytes) {
        setError(error, QStringLiteral("%1: too large for an outline file").arg(fileName));
        return false;
    }
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        setError(error,
            QStringLiteral("%1: outline cannot be read (%2)").arg(fileName, file.errorString()));
        return false;
    }
    auto decode = QStringDecoder(QStringDecoder::Utf8);
    const QString text = decode(file.readAll());
    if (decode.hasError()) {
        setError(error, QStringLiteral("%1: not a text file (expected UTF-8)").arg(fileName));
        return false;
    }
    return parseOutline(text, fileName, events, error);
}

bool parseClick(const QString &text, QPoint *pixel)
{
    const QStringList parts = text.split(QLatin1Char(','));
    int x = 0;
    int y = 0;
    if (parts.size() != 2 || !parseCoordinate(parts.at(0).trimmed(), &x)
        || !parseCoordinate(parts.at(1).trimmed(), &y))
        return false;
    *pixel = QPoint(x, y);
    return true;
}
