#include "cutbatch.h"

#include "composite.h"
#include "edgeanalysis.h"
#include "outlinereplay.h"
#include "picturefile.h"
#include "selectionmask.h"
#include "stderrcapture.h"
#include "tracing.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QHash>
#include <QImageReader>
#include <QImageWriter>
#include <QSaveFile>
#include <QTextStream>

#include <algorithm>
#include <cstring>

namespace
{

void setError(QString *error, const QString &text)
{
    if (error)
        *error = text;
}

double milliseconds(const QElapsedTimer &clock)
{
    return double(clock.nsecsElapsed()) / 1e6;
}

// Outside the selection the soft mask leaves alpha 1 (0 on the frame); anything more means
// some pixel lies inside or on the outline.
bool anythingSelected(const QImage &object)
{
    for (int y = 0; y < object.height(); ++y) {
        const uchar *row = object.constScanLine(y);
        for (int x = 0; x < object.width(); ++x) {
            if (row[4 * x + 3] > 1)
                return true;
        }
    }
    return false;
}

// A path names a folder when it is one or ends in a separator (a folder yet to be made).
bool namesFolder(const QString &path)
{
    return path.endsWith(QLatin1Char('/')) || path.endsWith(QDir::separator())
        || QFileInfo(path).isDir();
}

// The same file reached by different spellings or links compares equal.
QString identity(const QString &path)
{
    const QFileInfo info(path);
    if (info.exists())
        return info.canonicalFilePath();
    const QString folder = info.absoluteDir().canonicalPath();
    return folder.isEmpty() ? QDir::cleanPath(info.absoluteFilePath())
                            : folder + QLatin1Char('/') + info.fileName();
}

QByteArray formatForFile(const QString &fileName)
{
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    return suffix == QLatin1String("jpg") || suffix == QLatin1String("jpeg") ? "jpg" : "png";
}

// The picture format a file name's suffix claims ("jpg" for .jpg and .jpeg); empty when the
// name has no suffix or one that names no format Qt reads or writes.
QByteArray formatNamedBy(const QString &fileName)
{
    const QByteArray suffix = QFileInfo(fileName).suffix().toLower().toLatin1();
    if (suffix == "jpg" || suffix == "jpeg")
        return "jpg";
    if (!suffix.isEmpty()
        && (QImageWriter::supportedImageFormats().contains(suffix)
            || QImageReader::supportedImageFormats().contains(suffix)))
        return suffix;
    return {};
}

// Only regular files, or links to them, are replaced: renaming a result over a device or a
// pipe would take it away from everything else that uses it (as root even /dev/null).
bool checkTarget(const QString &option, const QString &file, QString *error)
{
    const QFileInfo info(file);
    if (info.isSymLink() && !info.exists()) {
        setError(error,
            QStringLiteral("%1 %2: a symbolic link that leads to no file (broken, or a loop); "
                           "it is left alone")
                .arg(option, file));
        return false;
    }
    if (info.exists() && !info.isFile()) {
        setError(error,
            QStringLiteral("%1 %2: not a regular file (a folder, device, pipe or socket); it is "
                           "left alone")
                .arg(option, file));
        return false;
    }
    return true;
}

// Where results go must be a folder for several inputs, and a folder that can be made.
bool checkFolder(const QString &option, const QString &folder, QString *error)
{
    const QFileInfo info(folder);
    if (info.exists() && !info.isDir()) {
        setError(error,
            QStringLiteral("%1 %2: is a file, but several inputs need a folder")
                .arg(option, folder));
        return false;
    }
    return true;
}

bool checkParent(const QString &option, const QString &file, QString *error)
{
    const QFileInfo info(file);
    if (!info.absoluteDir().exists()) {
        setError(error,
            QStringLiteral("%1 %2: the folder %3 does not exist")
                .arg(option, file, QDir::toNativeSeparators(info.absolutePath())));
        return false;
    }
    return true;
}

bool makeFolder(const QString &option, const QString &folder, QString *error)
{
    if (QDir().mkpath(folder))
        return true;
    setError(error, QStringLiteral("%1 %2: the folder cannot be made").arg(option, folder));
    return false;
}

} // namespace

QImage cutOut(const QImage &picture, const QList<quint16> &edgeMap,
    const QList<OutlineEvent> &events, int probeSize, TraceMode trace, const QColor &background,
    QString *error, CutTimes *times)
{
    QElapsedTimer clock;
    clock.start();
    OutlineReplay replay(picture.size(), edgeMap, probeSize, kMaxOutlinePoints, trace);
    replay.apply(events);
    if (times)
        times->trace += milliseconds(clock);
    if (!replay.ok()) {
        setError(error, replay.error());
        return {};
    }
    if (!replay.hasSelection()) {
        setError(error, QStringLiteral("the outline selects nothing (no stretch was confirmed)"));
        return {};
    }

    clock.restart();
    QImage object = picture.convertToFormat(QImage::Format_ARGB32);
    // Translated in place: a copy of an outline of millions of points costs as much again.
    QPainterPath shown = replay.shownPath();
    shown.translate(-kSceneOffset, -kSceneOffset);
    applySelectionMask(object, shown);
    QImage result;
    if (anythingSelected(object))
        result = composeOnBackground(object, background);
    else
        setError(error, QStringLiteral("the outline selects no pixel of the picture"));
    if (times)
        times->mask += milliseconds(clock);
    return result;
}

QImage edgeImage(const QList<quint16> &edgeMap, const QSize &size)
{
    if (size.isEmpty() || edgeMap.size() != qsizetype(size.width()) * size.height())
        return {};
    QImage strengths(size, QImage::Format_Grayscale16);
    for (int y = 0; y < size.height(); ++y) {
        std::memcpy(strengths.scanLine(y), edgeMap.constData() + qsizetype(y) * size.width(),
            sizeof(quint16) * size_t(size.width()));
    }
    return strengths;
}

bool writeImageFile(
    const QImage &image, const QString &fileName, const QByteArray &format, QString *error)
{
    const auto fail = [&](const QString &why) {
        setError(error, QStringLiteral("cannot write %1 (%2)").arg(fileName, why));
        return false;
    };
    if (image.isNull())
        return fail(QStringLiteral("no picture"));
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly))
        return fail(file.errorString());
    QImageWriter writer(&file, format);
    // As the window saves: quality 100 for JPEG, no compression for PNG.
    writer.setQuality(100);
    if (!writer.write(image)) {
        file.cancelWriting();
        return fail(writer.errorString());
    }
    if (!file.commit())
        return fail(file.errorString());
    return true;
}

CutBatch::CutBatch(const CutOptions &options)
    : m_options(options)
{
}

bool CutBatch::plan(QString *error)
{
    m_jobs.clear();
    const bool several = m_options.inputs.size() > 1;
    const QString &output = m_options.output;
    const QString &edges = m_options.edges;
    const bool outputFolder = !output.isEmpty() && (several || namesFolder(output));
    const bool edgesFolder = !edges.isEmpty() && (several || namesFolder(edges));

    if (outputFolder && !checkFolder(QStringLiteral("--output"), output, error))
        return false;
    if (edgesFolder && !checkFolder(QStringLiteral("--edges"), edges, error))
        return false;
    if (!output.isEmpty() && !outputFolder
        && !checkParent(QStringLiteral("--output"), output, error))
        return false;
    if (!edges.isEmpty() && !edgesFolder && !checkParent(QStringLiteral("--edges"), edges, error))
        return false;

    // The name says what is in the file; bytes of another format under it mislead every
    // program that trusts the suffix.
    if (!output.isEmpty() && !outputFolder && !m_options.format.isEmpty()) {
        const QByteArray named = formatNamedBy(output);
        if (!named.isEmpty() && named != m_options.format) {
            setError(error,
                QStringLiteral("--format %1 does not match the output name %2; name it .%1 or "
                               "leave out --format")
                    .arg(QString::fromLatin1(m_options.format), output));
            return false;
        }
    }

    if (!edges.isEmpty() && !edgesFolder) {
        const QByteArray named = formatNamedBy(edges);
        if (!named.isEmpty() && named != "png") {
            setError(error,
                QStringLiteral("--edges %1: the edge strengths are written as PNG; name it .png")
                    .arg(edges));
            return false;
        }
    }

    QHash<QString, QString> inputs; // identity -> input as given
    for (const QString &input : m_options.inputs) {
        if (!isUndecodableArgument(input))
            inputs.insert(identity(input), input);
    }

    QHash<QString, QString> writers; // identity of a file to write -> the input writing it
    const auto claim = [&](const QString &option, const QString &file, const QString &input) {
        if (!checkTarget(option, file, error))
            return false;
        const QString id = identity(file);
        if (inputs.contains(id)) {
            setError(error,
                QStringLiteral("%1 would be overwritten by the result of %2")
                    .arg(inputs.value(id), input));
            return false;
        }
        if (writers.contains(id)) {
            setError(error,
                QStringLiteral("%1 and %2 would both be written to %3")
                    .arg(writers.value(id), input, file));
            return false;
        }
        writers.insert(id, input);
        return true;
    };

    for (const QString &input : m_options.inputs) {
        const QString base = QFileInfo(input).completeBaseName();
        CutJob job;
        job.input = input;
        // It fails when it runs; there is no name to derive a result's from.
        if (isUndecodableArgument(input)) {
            m_jobs.append(job);
            continue;
        }
        if (!output.isEmpty()) {
            job.format = !m_options.format.isEmpty() ? m_options.format
                : outputFolder                       ? QByteArray("png")
                                                     : formatForFile(output);
            job.output = outputFolder
                ? QDir(output).filePath(base + QLatin1Char('.') + QString::fromLatin1(job.format))
                : output;
            if (!claim(QStringLiteral("--output"), job.output, input))
                return false;
        }
        if (!edges.isEmpty()) {
            job.edges
                = edgesFolder ? QDir(edges).filePath(base + QStringLiteral(".edges.png")) : edges;
            if (!claim(QStringLiteral("--edges"), job.edges, input))
                return false;
        }
        m_jobs.append(job);
    }

    // Only now that nothing is refused are folders made.
    if (outputFolder && !makeFolder(QStringLiteral("--output"), output, error))
        return false;
    if (edgesFolder && !makeFolder(QStringLiteral("--edges"), edges, error))
        return false;
    return true;
}

CutOutcome CutBatch::runJob(const CutJob &job) const
{
    CutOutcome outcome;
    QElapsedTimer clock;
    QString error;

    if (isUndecodableArgument(job.input)) {
        outcome.error
            = QStringLiteral("%1: the file name is not valid UTF-8").arg(argumentShown(job.input));
        return outcome;
    }

    clock.start();
    const QImage picture = [&] {
        const StderrCapture libraryNoise;
        return readPicture(job.input, &error);
    }();
    outcome.times.load = milliseconds(clock);
    if (picture.isNull()) {
        // The reader's reasons already name the file.
        outcome.error = error;
        return outcome;
    }

    // Asked before the analysis and the cut, which the writer would otherwise refuse only at
    // the end; the check goes by suffix, and the format decides, whatever the name.
    const auto fits = [&](const QByteArray &format) {
        const bool fit = checkPictureFits(
            picture.size(), QStringLiteral("result.") + QString::fromLatin1(format), &error);
        if (!fit)
            outcome.error = QStringLiteral("%1: %2").arg(job.input, error);
        return fit;
    };
    if ((!job.output.isEmpty() && !fits(job.format)) || (!job.edges.isEmpty() && !fits("png")))
        return outcome;

    clock.restart();
    const QList<quint16> edgeMap = findEdges(picture);
    outcome.times.edges = milliseconds(clock);

    if (!job.edges.isEmpty()) {
        clock.restart();
        const bool written
            = writeImageFile(edgeImage(edgeMap, picture.size()), job.edges, "png", &error);
        outcome.times.save += milliseconds(clock);
        if (!written) {
            outcome.error = QStringLiteral("%1: %2").arg(job.input, error);
            return outcome;
        }
    }

    if (!job.output.isEmpty()) {
        const QImage result = cutOut(picture, edgeMap, m_options.events, m_options.probeSize,
            m_options.trace, m_options.background, &error, &outcome.times);
        if (result.isNull()) {
            outcome.error = QStringLiteral("%1: %2").arg(job.input, error);
            return outcome;
        }
        clock.restart();
        const bool written = writeImageFile(result, job.output, job.format, &error);
        outcome.times.save += milliseconds(clock);
        if (!written) {
            outcome.error = QStringLiteral("%1: %2").arg(job.input, error);
            return outcome;
        }
    }
    outcome.ok = true;
    return outcome;
}

int CutBatch::run(QTextStream &log)
{
    // Names and outline text reach the terminal only through printable().
    const auto say = [&log](const QString &line) {
        log << QStringLiteral("velmora-cut: ") << printable(line) << Qt::endl;
    };
    QString error;
    if (!plan(&error)) {
        say(error);
        return 2;
    }

    const bool anyJpeg = std::any_of(
        m_jobs.cbegin(), m_jobs.cend(), [](const CutJob &job) { return job.format == "jpg"; });
    if (!m_options.quiet && anyJpeg && m_options.background.alpha() != 255) {
        say(QStringLiteral("warning: JPEG keeps no transparency; the background is written "
                           "opaque (use PNG to keep it)"));
    }

    const int count = int(m_jobs.size());
    int failed = 0;
    for (int i = 0; i < count; ++i) {
        const CutJob &job = m_jobs.at(i);
        const CutOutcome outcome = runJob(job);
        const QString step = QStringLiteral("[%1/%2] ").arg(i + 1).arg(count);
        if (!outcome.ok) {
            ++failed;
            say(step + QStringLiteral("error: ") + outcome.error);
            continue;
        }
        if (m_options.quiet)
            continue;
        QStringList written;
        if (!job.output.isEmpty())
            written << job.output;
        if (!job.edges.isEmpty())
            written << job.edges;
        say(step + job.input + QStringLiteral(" -> ") + written.join(QStringLiteral(", "))
            + QStringLiteral(" (%1 s)").arg(outcome.times.total() / 1000.0, 0, 'f', 2));
    }

    if (!m_options.quiet) {
        QString summary = QStringLiteral("%1 of %2 pictures done").arg(count - failed).arg(count);
        if (failed)
            summary += QStringLiteral(", %1 failed").arg(failed);
        say(summary);
    }
    return failed ? 1 : 0;
}
