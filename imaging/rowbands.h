#pragma once

#include <algorithm>
#include <thread>
#include <vector>

// Runs work(first, last) on consecutive bands of rows [first, last) covering [0, rows), one
// band per core, and returns when all are done. For per-pixel work whose result does not
// depend on which band computes it; small pictures stay on the calling thread.
template <typename Work> void inRowBands(int rows, qint64 pixels, const Work &work)
{
    constexpr qint64 kMinPixelsPerBand = 1 << 20;
    const int bands = int(std::clamp<qint64>(pixels / kMinPixelsPerBand, 1,
        std::min<qint64>(rows, std::max(1u, std::thread::hardware_concurrency()))));
    std::vector<std::thread> threads;
    for (int band = 1; band < bands; ++band)
        threads.emplace_back(work, rows * band / bands, rows * (band + 1) / bands);
    work(0, rows / bands);
    for (std::thread &thread : threads)
        thread.join();
}
