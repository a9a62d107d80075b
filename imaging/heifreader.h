#pragma once

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>
#include <QStringList>

#include <memory>

// Reads HEIF pictures (HEIC from phones, AVIF) through libheif, in two steps like QImageReader:
// readHeader() parses the file's boxes without decoding a pixel, so the caller can refuse the
// picture by size(), then read() decodes it. The reader works on the whole file in memory:
// libheif may decode tiles on several threads, which a shared device would not survive.
class HeifReader
{
public:
    enum class Kind {
        No, // not a HEIF file
        Readable, // a HEIF file this libheif can decode
        Unreadable, // a HEIF file coded in a way this libheif cannot decode
        Unsure, // too short to tell, yet the start of a HEIF file
    };
    // What the first bytes of a file (at least 12 to be sure) say about it.
    static Kind kindOf(const QByteArray &head);

    // The suffixes of the HEIF variants this libheif decodes, lower case.
    static QStringList suffixes();

    enum class Problem {
        None,
        Damaged, // the file is cut short or its boxes or its coded pixels are broken
        Unsupported, // well-formed, but a coding or feature this libheif lacks
        TooLarge, // libheif's own size limit refused the picture
    };

    explicit HeifReader(QByteArray file);
    ~HeifReader();
    HeifReader(const HeifReader &) = delete;
    HeifReader &operator=(const HeifReader &) = delete;

    // Parses the boxes and finds the primary picture; false with problem() and errorString()
    // when that fails.
    bool readHeader();
    // The primary picture's size as it will be decoded (turned upright, cropped); valid once
    // readHeader() succeeded.
    QSize size() const;
    // Decodes the primary picture with its rotation and mirroring applied, as Format_ARGB32
    // with the file's alpha (255 where it has none). libheif refuses any canvas or coded
    // picture with a side longer than size()'s plus a few coding blocks, so a grid cannot
    // claim far more pixels than were checked. Returns a null image on failure.
    QImage read();

    Problem problem() const;
    // libheif's words for the failure, without a file name.
    QString errorString() const;

private:
    struct Private;
    std::unique_ptr<Private> d;
};
