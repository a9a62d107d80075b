#pragma once

#include "outlineevent.h"
#include "outlinereplay.h"

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
    TraceMode trace = TraceMode::Walk; // as the window's Follow edges toggle, off
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

// arguments: as QCoreApplication::arguments(), the program first, with undecodable arguments
// marked as above. Reads the outline file.
CutCommandLine parseCommandLine(const QStringList &arguments);

// Text as it may go to a terminal: control and invisible formatting characters (escape
// sequences, NUL, tabs, bidirectional overrides) are shown as escapes such as \x1b, \0 and
// \t, so a file name or an outline line can never drive the terminal. Printable Unicode is
// kept as it is.
QString printable(const QString &text);

// Raw bytes of a file name shown as text: valid UTF-8 decoded and passed through printable(),
// every other byte as \xHH.
QString printableBytes(const QByteArray &bytes);

// Whether bytes are valid UTF-8: only such arguments name files without loss, since Qt decodes
// file names as UTF-8 and replaces what it cannot decode.
bool isValidUtf8(const QByteArray &bytes);

// An argument that is not valid UTF-8 is passed to parseCommandLine as
// undecodableArgument(bytes): a NUL (which no argument can hold) and the printable bytes. The
// parser refuses it as an option's file name; as an input it becomes a picture that fails.
QString undecodableArgument(const QByteArray &bytes);
bool isUndecodableArgument(const QString &argument);
// How to name such an argument in a message: its printable bytes.
QString argumentShown(const QString &argument);

// "white", "transparent", "#RRGGBB" or "#RRGGBBAA" (hex digits in any case); an invalid
// colour when the text is none of these.
QColor parseBackground(const QString &text);
