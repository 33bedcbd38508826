// Build tool: embed_images OUTPUT.cpp PICTURE...
// Writes the program's image table from the pictures, in the order given, each
// under its file name. Fails (status 1, nothing written) when a picture cannot
// be read or the output cannot be written.
#include "image_embedding.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QImageReader>
#include <QSaveFile>
#include <QStringList>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: embed_images OUTPUT.cpp PICTURE...\n");
        return 1;
    }
    std::vector<EmbeddedPicture> pictures;
    for (qsizetype i = 2; i < args.size(); ++i) {
        QImageReader reader(args[i]);
        const QImage image = reader.read();
        if (image.isNull()) {
            std::fprintf(stderr, "embed_images: %s: %s\n", qPrintable(args[i]),
                         qPrintable(reader.errorString()));
            return 1;
        }
        pictures.push_back(EmbeddedPicture{QFileInfo(args[i]).fileName(), image.width(),
                                           image.height(), compressedPixels(image)});
    }
    QSaveFile out(args[1]);
    if (!out.open(QIODevice::WriteOnly) || out.write(tableSource(pictures)) < 0 || !out.commit()) {
        std::fprintf(stderr, "embed_images: %s: %s\n", qPrintable(args[1]),
                     qPrintable(out.errorString()));
        return 1;
    }
    return 0;
}
