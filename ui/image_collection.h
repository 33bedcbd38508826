#ifndef IMAGE_COLLECTION_H
#define IMAGE_COLLECTION_H

#include "mime_source_factory.h"

#include <QImage>
#include <QRgb>
#include <QString>

class QPixmap;

// The pictures compiled into the program, served by name. The table is written
// at build time by the embed_images tool from the files in ui/images/.

// One picture of the table. `data` holds qCompress'ed raw pixels: rows from the
// top, `width` pixels each, every pixel 0xAARRGGBB stored little-endian.
struct EmbedImage {
    int width;
    int height;
    int depth;                 // bits per pixel; only 32 is decoded
    const unsigned char* data; // null in the record that ends the table
    unsigned long compressed;  // bytes at `data`
    int numColors;             // 0: no colour table
    const QRgb* colorTable;    // null
    bool alpha;                // the pixels carry an alpha channel
    const char* name;          // UTF-8 key
};

// The program's collection, ended by an all-zero record.
extern const EmbedImage embed_image_vec[];

// Decodes the first picture of `table` whose name equals `name` exactly (case
// matters). Returns a null image when no record matches, or when the matching
// record is damaged (not 32 bits deep, a non-positive size, or data that does
// not decompress to width x height x 4 bytes). The result owns its pixels;
// its format is RGB32, or ARGB32 when the record has alpha.
QImage findEmbeddedImage(const EmbedImage* table, const QString& name);

// The collection as a sub-factory of the default factory. Each picture is
// decoded at most once: the first request stores it in this factory.
class MimeSourceFactory_nubtactile : public MimeSourceFactory
{
public:
    MimeSourceFactory_nubtactile() = default;

    // The stored picture, or a null image for a null name, or else the
    // collection's picture (decoded, stored and returned), or a null image.
    QImage data(const QString& name) override;

protected:
    // Searches the collection for `name` and decodes it. Tests override it to
    // count searches.
    virtual QImage findImage(const QString& name);
};

// Adds the collection to the default factory; does nothing if it is there.
// Runs by itself during static initialisation.
void qInitImages_nubtactile();
// Takes the collection out of the default factory and frees its pictures;
// does nothing if it is not there. Runs by itself at exit.
void qCleanupImages_nubtactile();

// The default factory's picture of `name` as a pixmap, or a null pixmap.
// Needs the application object: a pixmap cannot exist before it.
QPixmap pixmapFromMimeSource(const QString& name);

#endif
