#pragma once

// The most memory the process has held so far, in megabytes (0 where it is not measured).

#include <QtGlobal>

#ifdef Q_OS_UNIX
#include <sys/resource.h>
#endif

inline double peakMegabytes()
{
#ifdef Q_OS_UNIX
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0;
#else
    return 0;
#endif
}
