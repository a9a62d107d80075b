#pragma once

#include "cutoptions.h"

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QList>
#include <QString>

class QTextStream;

// Milliseconds spent on each stage of one picture.
struct CutTimes {
    double load = 0; // reading and decoding
    double edges = 0; // the edge analysis
    double trace = 0; // replaying the outline
    double mask = 0; // the soft alpha and the background
    double save = 0; // encoding and writing, the edge strengths included

    double total() const { return load + edges + trace + mask + save; }
};

// One picture of a batch and where its results go.
struct CutJob {
    QString input;
    QString output; // empty: no cut-out, only the edge strengths
    QByteArray format; // "png" or "jpg"
    QString edges; // empty: not written
};

struct CutOutcome {
    bool ok = false;
    QString error; // why it failed, naming the input
    CutTimes times;
};

// The cut-out of a picture whose edge strengths are known: replays the events, each stretch
// found as trace says, gives a copy of the picture the soft alpha of the selection and lays it
// over the background, exactly as the window saves it. A null image and a reason when the
// events leave nothing selected.
QImage cutOut(const QImage &picture, const QList<quint16> &edgeMap,
    const QList<OutlineEvent> &events, int probeSize, TraceMode trace, const QColor &background,
    QString *error = nullptr, CutTimes *times = nullptr);

// The edge strengths as a 16-bit grey picture holding the raw values, 0 to 765.
QImage edgeImage(const QList<quint16> &edgeMap, const QSize &size);

// Writes image in the given format through a temporary file that replaces fileName only when
// complete, so an existing file is never left half-written.
bool writeImageFile(const QImage &image, const QString &fileName, const QByteArray &format,
    QString *error = nullptr);

// Runs velmora-cut's options over every input, one after another with the same outline.
class CutBatch
{
public:
    explicit CutBatch(const CutOptions &options);

    // Works out every output name; refuses (and writes nothing) when two results would land
    // on the same file, a result would replace an input, or the output is no folder where a
    // folder is needed. Makes the output folders.
    bool plan(QString *error);
    const QList<CutJob> &jobs() const { return m_jobs; }

    CutOutcome runJob(const CutJob &job) const;

    // Plans and runs everything, writing progress, errors and a summary to log. Returns the
    // exit status: 0 all written, 1 something failed, 2 refused before writing.
    int run(QTextStream &log);

private:
    CutOptions m_options;
    QList<CutJob> m_jobs;
};
