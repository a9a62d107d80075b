#pragma once

#include "outlineevent.h"

#include <QByteArray>
#include <QColor>
#include <QList>
#include <QString>
#include <QStringList>

// What one run of velmora-cut is asked to do, checked and ready to run.
struct CutOptions {
    QStringList inputs;
    QString output; // a file for one input, a folder for several; empty only without events
    QList<OutlineEvent> events; // the outline, then the clicks, then a final invert
    QColor background = Qt::white;
    int probeSize = 10; // as the window's probe at zoom 1
    QByteArray format; // "png" or "jpg"; empty: from the output's suffix, PNG otherwise
    QString edges; // where to write the edge strengths; empty: nowhere
    bool quiet = false;
};

// The result of reading the command line: run with the options, print the help or version
// text and stop, or refuse with a one-line message (exit status 2).
struct CutCommandLine {
    enum Action { Run, ShowHelp, ShowVersion, Refuse };
    Action action = Refuse;
    CutOptions options;
    QString message; // the help or version text, or the reason for refusing
};

// Probe sizes beyond this would not fit on a screen at zoom 1.
constexpr int kMaxProbeSize = 1000;

// arguments: as QCoreApplication::arguments(), the program first. Reads the outline file.
CutCommandLine parseCommandLine(const QStringList &arguments);

// "white", "transparent", "#RRGGBB" or "#RRGGBBAA" (hex digits in any case); an invalid
// colour when the text is none of these.
QColor parseBackground(const QString &text);
