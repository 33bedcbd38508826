#ifndef MIME_SOURCE_FACTORY_H
#define MIME_SOURCE_FACTORY_H

#include <QHash>
#include <QImage>
#include <QString>

#include <vector>

// A registry of pictures by name. The default factory is where windows ask;
// picture collections add themselves to it as sub-factories. Lookups and
// registration belong to the GUI thread (or to static initialisation and exit).
class MimeSourceFactory
{
public:
    MimeSourceFactory();
    virtual ~MimeSourceFactory();
    MimeSourceFactory(const MimeSourceFactory&) = delete;
    MimeSourceFactory& operator=(const MimeSourceFactory&) = delete;

    // The process-wide factory. Created on first use, destroyed at exit after
    // everything that used it during static initialisation.
    static MimeSourceFactory* defaultFactory();

    // The picture stored under `name` (exact, case-sensitive); otherwise the
    // first non-null answer of the sub-factories, in the order they were
    // added; otherwise a null image. A lookup may store what it found (see
    // subclasses), so it is not const.
    virtual QImage data(const QString& name);

    // Stores `image` under `name`, replacing what was there; a null image
    // removes the entry.
    void setImage(const QString& name, const QImage& image);

    // Adds `factory` as a sub-factory, after those already there. Adding null,
    // this factory itself or a factory already added does nothing. The caller
    // keeps ownership and must remove it before deleting it.
    void addFactory(MimeSourceFactory* factory);
    // Removes `factory` if it was added; otherwise does nothing.
    void removeFactory(MimeSourceFactory* factory);
    const std::vector<MimeSourceFactory*>& factories() const { return subFactories; }

private:
    QHash<QString, QImage> stored;
    std::vector<MimeSourceFactory*> subFactories;
};

#endif
