#include "edgeanalysis.h"

LabColor labFromRgb(QRgb)
{
    return {};
}

QList<quint16> findEdges(const QImage &picture, const std::function<void(int)> &, int)
{
    return QList<quint16>(qsizetype(picture.width()) * picture.height(), 0);
}
