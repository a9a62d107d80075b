#include "stderrcapture.h"

#include <QByteArray>
#include <QList>
#include <QtGlobal>

#include <cstdio>
#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

StderrCapture::StderrCapture()
{
#ifdef Q_OS_UNIX
    // A file rather than a pipe: nothing blocks however much the library writes.
    m_file = std::tmpfile();
    if (!m_file)
        return;
    std::fflush(stderr);
    m_saved = dup(STDERR_FILENO);
    if (m_saved < 0 || dup2(fileno(m_file), STDERR_FILENO) < 0) {
        if (m_saved >= 0)
            close(m_saved);
        m_saved = -1;
        std::fclose(m_file);
        m_file = nullptr;
    }
#endif
}

StderrCapture::~StderrCapture()
{
#ifdef Q_OS_UNIX
    if (!m_file)
        return;
    std::fflush(stderr);
    dup2(m_saved, STDERR_FILENO);
    close(m_saved);
    QByteArray written;
    std::rewind(m_file);
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, m_file)) > 0;)
        written.append(buffer, qsizetype(n));
    std::fclose(m_file);
    for (const QByteArray &line : written.split('\n')) {
        if (!line.trimmed().isEmpty())
            qWarning("%s", line.trimmed().constData());
    }
#endif
}
