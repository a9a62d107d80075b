#pragma once

#include <QImage>
#include <vector>

// Normalised weights w[0..n-1] of the blur kernel. Each raw weight carries a square root,
// so the shape is a Gaussian of standard deviation sigma * sqrt(2).
std::vector<double> gaussianKernel(int n, double sigma);

// Blurs the colour bytes (0, 1, 2) of a 32-bit picture, or the one byte of an 8-bit one
// (which gets exactly what a colour channel would), into dst.
// src and dst: same size and depth; rows addressed with src.bytesPerLine().
// Writes only dst's interior [n/2, W - n/2) x [n/2, H - n/2), never an alpha byte;
// everything else keeps what the caller put there. O(W * H * n).
void gaussianBlur(const QImage &src, QImage &dst, int n, double sigma);
