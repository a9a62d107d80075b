#include "picturefile.h"

QImage readPicture(const QString &fileName, QString *)
{
    QImage loaded(fileName);
    return loaded.convertToFormat(QImage::Format_ARGB32);
}

bool writePicture(const QImage &image, const QString &fileName, int quality, QString *)
{
    return image.save(fileName, nullptr, quality);
}
