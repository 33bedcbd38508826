#ifndef IMAGE_EMBEDDING_H
#define IMAGE_EMBEDDING_H

#include <QByteArray>
#include <QString>

#include <vector>

class QImage;

// How the build turns pictures into the program's image table.

// The pixels of `image` as the table stores them: rows from the top, each row
// exactly width pixels, each pixel 0xAARRGGBB in little-endian byte order
// (blue, green, red, alpha) with alpha 0xFF. Any format is converted to 32-bit
// RGB first; transparency is dropped. Empty for a null image.
QByteArray rawPixels(const QImage& image);

// rawPixels(image) in qCompress's format (4-byte big-endian length, then one
// zlib stream), at the best compression.
QByteArray compressedPixels(const QImage& image);

struct EmbeddedPicture {
    QString name; // the key windows ask for, e.g. "braille.png"
    int width = 0;
    int height = 0;
    QByteArray compressed;
};

// A C++ source that defines `embed_image_vec` with one record per picture, in
// order (32 bits deep, no colour table, no alpha), ended by an all-zero record.
// Names are written as escaped UTF-8 string literals.
QByteArray tableSource(const std::vector<EmbeddedPicture>& pictures);

#endif
