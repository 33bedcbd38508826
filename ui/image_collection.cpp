#include "image_collection.h"

#include <QByteArray>
#include <QPixmap>

// The stored bytes are the in-memory layout of RGB32 on a little-endian host.
static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN, "embedded pictures are stored little-endian");

namespace
{

MimeSourceFactory_nubtactile* factory = nullptr;

QImage uic_findImage(const QString& name)
{
    return findEmbeddedImage(embed_image_vec, name);
}

// Registers the collection before main() runs and unregisters it at exit.
struct StaticInitImages_nubtactile {
    StaticInitImages_nubtactile() { qInitImages_nubtactile(); }
    ~StaticInitImages_nubtactile() { qCleanupImages_nubtactile(); }
    StaticInitImages_nubtactile(const StaticInitImages_nubtactile&) = delete;
    StaticInitImages_nubtactile& operator=(const StaticInitImages_nubtactile&) = delete;
};

StaticInitImages_nubtactile staticImages;

} // namespace

QImage findEmbeddedImage(const EmbedImage* table, const QString& name)
{
    for (const EmbedImage* entry = table; entry->data != nullptr; ++entry) {
        if (QString::fromUtf8(entry->name) != name)
            continue;
        if (entry->depth != 32 || entry->width <= 0 || entry->height <= 0)
            return QImage();
        const QByteArray pixels =
            qUncompress(entry->data, static_cast<qsizetype>(entry->compressed));
        // qUncompress takes the stored length only as a hint; a record that
        // does not decode to exactly its size would be read out of bounds.
        const qsizetype rowBytes = qsizetype(entry->width) * 4;
        if (pixels.size() != rowBytes * entry->height)
            return QImage();
        const QImage::Format format = entry->alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32;
        const QImage view(reinterpret_cast<const uchar*>(pixels.constData()), entry->width,
                          entry->height, rowBytes, format);
        return view.copy();
    }
    return QImage();
}

QImage MimeSourceFactory_nubtactile::data(const QString& name)
{
    QImage image = MimeSourceFactory::data(name);
    if (!image.isNull() || name.isNull())
        return image;
    image = findImage(name);
    if (!image.isNull())
        setImage(name, image);
    return MimeSourceFactory::data(name);
}

QImage MimeSourceFactory_nubtactile::findImage(const QString& name)
{
    return uic_findImage(name);
}

void qInitImages_nubtactile()
{
    if (factory != nullptr)
        return;
    factory = new MimeSourceFactory_nubtactile;
    MimeSourceFactory::defaultFactory()->addFactory(factory);
}

void qCleanupImages_nubtactile()
{
    if (factory == nullptr)
        return;
    MimeSourceFactory::defaultFactory()->removeFactory(factory);
    delete factory;
    factory = nullptr;
}

QPixmap pixmapFromMimeSource(const QString& name)
{
    const QImage image = MimeSourceFactory::defaultFactory()->data(name);
    return image.isNull() ? QPixmap() : QPixmap::fromImage(image);
}
