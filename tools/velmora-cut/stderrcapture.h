#pragma once

#include <cstdio>

// Catches what libraries write straight to the process's standard error while it lives
// (libpng prints its errors itself, past Qt's message handler) and hands each line to
// qWarning on destruction, so it reaches the terminal as the tool's own escaped message, or
// not at all under --quiet. Only where standard error can be redirected (POSIX); elsewhere it
// does nothing.
class StderrCapture
{
public:
    StderrCapture();
    ~StderrCapture();
    StderrCapture(const StderrCapture &) = delete;
    StderrCapture &operator=(const StderrCapture &) = delete;

private:
    int m_saved = -1; // the real standard error while captured
    std::FILE *m_file = nullptr;
};
