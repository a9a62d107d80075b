#include "gaussianblur.h"

#include <cmath>

std::vector<double> gaussianKernel(int n, double sigma)
{
    std::vector<double> w(n > 0 ? n : 0);
    const int half = n / 2;
    double sum = 0;
    for (int j = 0; j < n; ++j) {
        const int i = j - half;
        w[j] = std::sqrt(std::exp(-(i * i) / (sigma * (sigma + sigma))) / (6.283 * sigma * sigma));
        sum += w[j];
    }
    for (double &v : w)
        v /= sum;
    return w;
}

void gaussianBlur(const QImage &, QImage &, int, double)
{
}
