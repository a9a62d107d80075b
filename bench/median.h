#pragma once

// Medians of repeated timings: the machine is shared, so one slow run says little.

#include <QElapsedTimer>

#include <algorithm>
#include <vector>

inline double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// The median wall time of runs calls of work, in milliseconds.
template<typename Work>
double medianMs(int runs, Work &&work)
{
    std::vector<double> times;
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer timer;
        timer.start();
        work();
        times.push_back(timer.nsecsElapsed() / 1e6);
    }
    return median(times);
}
