#include "composite.h"

QImage composeOnBackground(const QImage &object, const QColor &)
{
    return object;
}

QImage composePreview(const QImage &object, const QColor &, const QImage &)
{
    return object;
}

bool losesTransparency(const QColor &, const QString &)
{
    return false;
}
