#include "image_collection.h"
#include "image_embedding.h"

#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QtTest>

namespace
{

// The collection's factory, counting the table searches it makes.
class CountingFactory : public MimeSourceFactory_nubtactile
{
public:
    QStringList searched;

protected:
    QImage findImage(const QString& name) override
    {
        searched << name;
        return MimeSourceFactory_nubtactile::findImage(name);
    }
};

int registeredCollections()
{
    int count = 0;
    for (MimeSourceFactory* f : MimeSourceFactory::defaultFactory()->factories())
        count += dynamic_cast<MimeSourceFactory_nubtactile*>(f) != nullptr ? 1 : 0;
    return count;
}

// Decodes a one-record table over `compressed`, as the build tool writes it.
QImage decodeRecord(const QByteArray& compressed, QSize size)
{
    const auto* data = reinterpret_cast<const unsigned char*>(compressed.constData());
    const EmbedImage table[] = {{size.width(), size.height(), 32, data,
                                 static_cast<unsigned long>(compressed.size()), 0, nullptr, false,
                                 "picture"},
                                {0, 0, 0, nullptr, 0, 0, nullptr, false, nullptr}};
    return findEmbeddedImage(table, QStringLiteral("picture"));
}

} // namespace

class tst_images : public QObject
{
    Q_OBJECT

private slots:
    void cleanup()
    {
        QVERIFY(QApplication::topLevelWidgets().isEmpty());
        QCOMPARE(registeredCollections(), 1);
    }

    void collection_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QSize>("size");
        QTest::newRow("braille") << "braille.png" << QSize(68, 88);
        QTest::newRow("kestra") << "kestra.png" << QSize(414, 179);
        QTest::newRow("nubtactile") << "nubtactile.png" << QSize(240, 67);
        QTest::newRow("velmora") << "velmora.jpg" << QSize(250, 73);
    }

    // The table holds exactly the committed pictures, opaque, 32 bits deep,
    // each decoded once: a second request answers from the stored picture.
    void collection()
    {
        QFETCH(QString, name);
        QFETCH(QSize, size);
        CountingFactory factory;
        const QImage image = factory.data(name);
        QCOMPARE(image.size(), size);
        QCOMPARE(image.format(), QImage::Format_RGB32);
        const QImage source(QDir(QStringLiteral(NUB_PICTURE_DIR)).filePath(name));
        QCOMPARE(image, source.convertToFormat(QImage::Format_RGB32));
        QCOMPARE(factory.data(name).constBits(), image.constBits());
        QCOMPARE(factory.searched, QStringList{name});
        QCOMPARE(pixmapFromMimeSource(name).size(), size);
    }

    void unknownNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("searches"); // of two requests; a miss is not remembered
        QTest::newRow("upper case") << "BRAILLE.PNG" << 2;
        QTest::newRow("not in the table") << "logo.png" << 2;
        QTest::newRow("empty") << "" << 2;
        QTest::newRow("null: no search") << QString() << 0;
    }

    void unknownNames()
    {
        QFETCH(QString, name);
        QFETCH(int, searches);
        CountingFactory factory;
        QVERIFY(factory.data(name).isNull());
        QVERIFY(factory.data(name).isNull());
        QVERIFY(pixmapFromMimeSource(name).isNull());
        QCOMPARE(factory.searched.size(), searches);
    }

    void registration()
    {
        QCOMPARE(registeredCollections(), 1); // during static initialisation
        qInitImages_nubtactile();
        QCOMPARE(registeredCollections(), 1);

        MimeSourceFactory other;
        MimeSourceFactory::defaultFactory()->addFactory(&other);
        qCleanupImages_nubtactile();
        qCleanupImages_nubtactile();
        const auto left = MimeSourceFactory::defaultFactory()->factories();
        const bool gone = pixmapFromMimeSource(QStringLiteral("braille.png")).isNull();
        MimeSourceFactory::defaultFactory()->removeFactory(&other);
        qInitImages_nubtactile();
        QCOMPARE(left, std::vector<MimeSourceFactory*>{&other});
        QVERIFY(gone);
        QCOMPARE(pixmapFromMimeSource(QStringLiteral("braille.png")).size(), QSize(68, 88));
    }

    // A record decodes to the picture the build tool stored; a damaged one
    // yields no picture instead of reading past its data.
    void records_data()
    {
        QTest::addColumn<QByteArray>("compressed");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QImage>("expected"); // null: no picture

        QImage picture(5, 2, QImage::Format_RGB32);
        for (int i = 0; i < 10; ++i)
            picture.setPixel(i % 5, i / 5, qRgb(i * 25, 255 - i, 7));
        const QByteArray good = compressedPixels(picture);
        QTest::newRow("as written") << good << QSize(5, 2) << picture;
        QTest::newRow("wider than its data") << good << QSize(6, 2) << QImage();
        QTest::newRow("more data than its size") << good << QSize(4, 2) << QImage();
        QTest::newRow("truncated stream") << good.left(good.size() / 2) << QSize(5, 2) << QImage();
    }

    void records()
    {
        QFETCH(QByteArray, compressed);
        QFETCH(QSize, size);
        QFETCH(QImage, expected);
        if (QByteArray(QTest::currentDataTag()) == "truncated stream")
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^qUncompress"));
        QCOMPARE(decodeRecord(compressed, size), expected);
    }
};

QTEST_MAIN(tst_images)
#include "tst_images.moc"
