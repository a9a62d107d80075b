#pragma once

#include <QByteArray>
#include <QIODevice>
#include <QImage>
#include <QSize>
#include <QString>
#include <QStringList>

// Reads any picture the Qt image readers decode, turned upright by its EXIF orientation, and
// HEIF pictures (HEIC, AVIF; recognised by content whatever the name) turned upright by their
// own rotation and mirroring, all converted to Format_ARGB32 (alpha 255 where the file has
// none). Returns a null image and a reason in *error when the file cannot be read or would not
// fit in memory.
QImage readPicture(const QString &fileName, QString *error = nullptr);

// The suffixes readPicture knows, lower case, sorted, each once: those of the Qt image readers
// installed (with qt6-image-formats-plugins also webp, tga, ...) and the HEIF ones.
QStringList readablePictureSuffixes();

// Writes image to fileName in the format its suffix names, through a temporary file that
// replaces the target only when complete: a failed write leaves any existing file as it was.
bool writePicture(
    const QImage &image, const QString &fileName, int quality = 100, QString *error = nullptr);

// The encoding step of writePicture, onto a device open for writing: PNG at quality 100 is
// lossless and compressed, other formats and qualities go to Qt's writers. On failure
// *reason gives the cause without a file name ("disk full", "permission denied", ...).
bool writePictureData(const QImage &image, QIODevice &device, const QByteArray &format,
    int quality = 100, QString *reason = nullptr);

// Whether the writer that fileName's suffix chooses can hold a picture of this size; cheap, so
// callers ask before the analysis and the cut rather than learn it from a refused write.
// On false, *reason says why without the file name, e.g. "too tall for PNG (at most 1000000
// pixels high)" or "unknown picture format \"xyz\"".
bool checkPictureFits(const QSize &size, const QString &fileName, QString *reason = nullptr);
