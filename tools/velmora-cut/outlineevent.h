#pragma once

#include <QList>
#include <QPoint>
#include <QString>

// One step of an outline, as the window would receive it from the mouse at zoom 1.
struct OutlineEvent {
    enum Kind {
        Click, // a left press at `pixel`
        Close, // a left press on the first point of the trace under way
        Abandon, // a right press: ends the trace, keeps its confirmed stretches
        Undo, // undoes the newest confirmed stretch
        Invert, // swaps inside and outside of the selection
    };
    Kind kind = Click;
    QPoint pixel; // picture pixels; only for Click
    int line = 0; // where it came from, for messages; 0 for events not read from a file

    friend bool operator==(const OutlineEvent &a, const OutlineEvent &b)
    {
        return a.kind == b.kind && a.pixel == b.pixel;
    }
};

// Coordinates further out than this are surely a typing error; it also keeps the probe
// arithmetic far from overflow.
constexpr int kMaxOutlineCoordinate = 1000000;

// Parses the outline text: one event per line ("click X Y", "close", "abandon", "undo",
// "invert"; words in any case), blank lines and "#" comments ignored. Stops at the first bad
// line, leaving *events as it was, and sets *error to "<sourceName>:<line>: <reason>".
bool parseOutline(const QString &text, const QString &sourceName, QList<OutlineEvent> *events,
    QString *error = nullptr);

// Reads and parses an outline file. The error names the file and, for a bad line, its number.
bool readOutline(const QString &fileName, QList<OutlineEvent> *events, QString *error = nullptr);

// "X,Y" as given to --click; false when malformed or out of range.
bool parseClick(const QString &text, QPoint *pixel);
