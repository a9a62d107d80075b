#pragma once

#include <QImage>
#include <QString>

// Reads any picture the Qt image readers decode, turned upright by its EXIF orientation and
// converted to Format_ARGB32 (alpha 255 where the file has none). Returns a null image and
// a reason in *error when the file cannot be read or would not fit in memory.
QImage readPicture(const QString &fileName, QString *error = nullptr);

// Writes image to fileName in the format its suffix names, through a temporary file that
// replaces the target only when complete: a failed write leaves any existing file as it was.
bool writePicture(const QImage &image, const QString &fileName, int quality = 100,
                  QString *error = nullptr);
