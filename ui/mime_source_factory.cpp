#include "mime_source_factory.h"

#include <algorithm>

MimeSourceFactory::MimeSourceFactory() = default;

MimeSourceFactory::~MimeSourceFactory() = default;

MimeSourceFactory* MimeSourceFactory::defaultFactory()
{
    // Constructed on first use, so a collection registering itself during
    // static initialisation finds it whatever the order of the translation
    // units; being constructed before that collection finishes, it is also
    // destroyed after the collection has unregistered at exit.
    static MimeSourceFactory instance;
    return &instance;
}

QImage MimeSourceFactory::data(const QString& name)
{
    const auto hit = stored.constFind(name);
    if (hit != stored.cend())
        return hit.value();
    for (MimeSourceFactory* factory : subFactories) {
        QImage image = factory->data(name);
        if (!image.isNull())
            return image;
    }
    return QImage();
}

void MimeSourceFactory::setImage(const QString& name, const QImage& image)
{
    if (image.isNull())
        stored.remove(name);
    else
        stored.insert(name, image);
}

void MimeSourceFactory::addFactory(MimeSourceFactory* factory)
{
    if (factory == nullptr || factory == this ||
        std::find(subFactories.begin(), subFactories.end(), factory) != subFactories.end())
        return;
    subFactories.push_back(factory);
}

void MimeSourceFactory::removeFactory(MimeSourceFactory* factory)
{
    subFactories.erase(std::remove(subFactories.begin(), subFactories.end(), factory),
                       subFactories.end());
}
