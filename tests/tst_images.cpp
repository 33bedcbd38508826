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

// A one-record table over `compressed`, as the build tool would write it.
struct OneRecordTable {
    QByteArray compressed;
    EmbedImage records[2];

    OneRecordTable(const QByteArray& bytes, int width, int height, int depth = 32,
                   bool alpha = false)
        : compressed(bytes), records{
                                 {width, height, depth,
                                  reinterpret_cast<const unsigned char*>(compressed.constData()),
                                  static_cast<unsigned long>(compressed.size()), 0, nullptr, alpha,
                                  "picture"},
                                 {0, 0, 0, nullptr, 0, 0, nullptr, false, nullptr}}
    {
    }
};

QImage opaque(const QImage& image)
{
    QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < rgb.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(rgb.scanLine(y));
        for (int x = 0; x < rgb.width(); ++x)
            line[x] |= 0xFF000000u;
    }
    return rgb;
}

} // namespace

class tst_images : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();

    void collection_data();
    void collection();
    void decodedOnce();
    void unknownNames_data();
    void unknownNames();
    void nullNameNotSearched();
    void registration();
    void emptyTable();
    void damagedRecords_data();
    void damagedRecords();
    void alphaRecord();
    void roundTrip_data();
    void roundTrip();
    void registryLookupOrder();
};

void tst_images::cleanup()
{
    QVERIFY(QApplication::topLevelWidgets().isEmpty());
    QCOMPARE(registeredCollections(), 1);
}

void tst_images::collection_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QSize>("size");
    QTest::newRow("braille") << "braille.png" << QSize(68, 88);
    QTest::newRow("kestra") << "kestra.png" << QSize(414, 179);
    QTest::newRow("nubtactile") << "nubtactile.png" << QSize(240, 67);
    QTest::newRow("velmora") << "velmora.jpg" << QSize(250, 73);
}

void tst_images::collection()
{
    QFETCH(QString, name);
    QFETCH(QSize, size);

    const QImage image = findEmbeddedImage(embed_image_vec, name);
    QCOMPARE(image.size(), size);
    QCOMPARE(image.depth(), 32);
    QVERIFY(!image.hasAlphaChannel());
    // The table holds exactly the committed picture.
    const QImage source(QDir(QStringLiteral(NUB_PICTURE_DIR)).filePath(name));
    QVERIFY(!source.isNull());
    QCOMPARE(image, opaque(source));

    const QPixmap pixmap = pixmapFromMimeSource(name);
    QCOMPARE(pixmap.size(), size);
    QVERIFY(!pixmap.hasAlphaChannel());
}

void tst_images::decodedOnce()
{
    CountingFactory factory;
    const QImage first = factory.data(QStringLiteral("kestra.png"));
    const QImage second = factory.data(QStringLiteral("kestra.png"));
    QCOMPARE(factory.searched, QStringList{QStringLiteral("kestra.png")});
    QVERIFY(!first.isNull());
    // The very same stored pixels, not a second decode.
    QCOMPARE(second.constBits(), first.constBits());
}

void tst_images::unknownNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("upper case") << "BRAILLE.PNG";
    QTest::newRow("capital initial") << "Braille.png";
    QTest::newRow("no extension") << "braille";
    QTest::newRow("leading blank") << " braille.png";
    QTest::newRow("other extension") << "velmora.png";
    QTest::newRow("not in the table") << "logo.png";
    QTest::newRow("empty") << "";
}

void tst_images::unknownNames()
{
    QFETCH(QString, name);
    CountingFactory factory;
    QVERIFY(factory.data(name).isNull());
    QVERIFY(factory.data(name).isNull());
    QVERIFY(pixmapFromMimeSource(name).isNull());
    // A miss is not remembered: each request searches again.
    QCOMPARE(factory.searched.size(), 2);
}

void tst_images::nullNameNotSearched()
{
    CountingFactory factory;
    QVERIFY(factory.data(QString()).isNull());
    QVERIFY(factory.searched.isEmpty());
    QVERIFY(pixmapFromMimeSource(QString()).isNull());
}

void tst_images::registration()
{
    // Registered during static initialisation, before the test's main ran.
    QCOMPARE(registeredCollections(), 1);
    qInitImages_nubtactile();
    QCOMPARE(registeredCollections(), 1);

    MimeSourceFactory other;
    other.setImage(QStringLiteral("other.png"), QImage(2, 2, QImage::Format_RGB32));
    MimeSourceFactory::defaultFactory()->addFactory(&other);

    qCleanupImages_nubtactile();
    QCOMPARE(registeredCollections(), 0);
    QVERIFY(pixmapFromMimeSource(QStringLiteral("braille.png")).isNull());
    qCleanupImages_nubtactile();
    QCOMPARE(MimeSourceFactory::defaultFactory()->factories(),
             std::vector<MimeSourceFactory*>{&other});
    QCOMPARE(pixmapFromMimeSource(QStringLiteral("other.png")).size(), QSize(2, 2));

    qInitImages_nubtactile();
    MimeSourceFactory::defaultFactory()->removeFactory(&other);
    QCOMPARE(registeredCollections(), 1);
    QCOMPARE(pixmapFromMimeSource(QStringLiteral("braille.png")).size(), QSize(68, 88));
}

void tst_images::emptyTable()
{
    const EmbedImage empty[] = {{0, 0, 0, nullptr, 0, 0, nullptr, false, nullptr}};
    QVERIFY(findEmbeddedImage(empty, QStringLiteral("braille.png")).isNull());
    QVERIFY(findEmbeddedImage(empty, QString()).isNull());
}

void tst_images::damagedRecords_data()
{
    QTest::addColumn<QByteArray>("compressed");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("depth");
    QTest::addColumn<bool>("corrupt"); // qUncompress says so on the log

    QImage picture(5, 4, QImage::Format_RGB32);
    picture.fill(Qt::red);
    const QByteArray good = compressedPixels(picture);
    QTest::newRow("wider than its data") << good << 6 << 4 << 32 << false;
    QTest::newRow("taller than its data") << good << 5 << 5 << 32 << false;
    QTest::newRow("more data than its size") << good << 4 << 4 << 32 << false;
    QTest::newRow("zero width") << good << 0 << 4 << 32 << false;
    QTest::newRow("negative height") << good << 5 << -4 << 32 << false;
    QTest::newRow("8 bits deep") << good << 5 << 4 << 8 << false;
    QTest::newRow("truncated stream") << good.left(good.size() / 2) << 5 << 4 << 32 << true;
    QTest::newRow("not compressed") << QByteArray(80, '\x7f') << 5 << 4 << 32 << true;
    QTest::newRow("length prefix only") << good.left(4) << 5 << 4 << 32 << true;
}

void tst_images::damagedRecords()
{
    QFETCH(QByteArray, compressed);
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(int, depth);
    QFETCH(bool, corrupt);
    if (corrupt)
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^qUncompress"));
    const OneRecordTable table(compressed, width, height, depth);
    QVERIFY(findEmbeddedImage(table.records, QStringLiteral("picture")).isNull());
}

void tst_images::alphaRecord()
{
    QByteArray raw;
    for (int i = 0; i < 4; ++i)
        raw.append("\x10\x20\x30\x80", 4); // blue, green, red, alpha 0x80
    const OneRecordTable table(qCompress(raw), 2, 2, 32, true);
    const QImage image = findEmbeddedImage(table.records, QStringLiteral("picture"));
    QVERIFY(image.hasAlphaChannel());
    QCOMPARE(image.pixel(1, 1), qRgba(0x30, 0x20, 0x10, 0x80));
}

void tst_images::roundTrip_data()
{
    QTest::addColumn<QImage>("picture");

    QImage argb(7, 3, QImage::Format_ARGB32);
    argb.fill(Qt::transparent);
    argb.setPixel(0, 0, qRgba(255, 0, 0, 0));
    argb.setPixel(6, 2, qRgba(1, 2, 3, 200));
    QTest::newRow("with transparency") << argb;

    QImage indexed(3, 5, QImage::Format_Indexed8);
    indexed.setColorTable({qRgb(0, 0, 0), qRgb(10, 200, 30), qRgb(255, 255, 254)});
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 3; ++x)
            indexed.setPixel(x, y, uint((x + y) % 3));
    QTest::newRow("colour table") << indexed;

    // Three bytes a pixel: scan lines are padded, the table's rows must not be.
    QImage packed(5, 2, QImage::Format_RGB888);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 5; ++x)
            packed.setPixel(x, y, qRgb(x * 50, y * 100, 7));
    QTest::newRow("padded rows") << packed;

    QTest::newRow("one pixel") << QImage(1, 1, QImage::Format_Mono);
    QTest::newRow("a real picture")
        << QImage(QDir(QStringLiteral(NUB_PICTURE_DIR)).filePath(QStringLiteral("velmora.jpg")));
}

void tst_images::roundTrip()
{
    QFETCH(QImage, picture);
    const OneRecordTable table(compressedPixels(picture), picture.width(), picture.height());
    const QImage decoded = findEmbeddedImage(table.records, QStringLiteral("picture"));
    QCOMPARE(decoded.format(), QImage::Format_RGB32);
    QCOMPARE(decoded, opaque(picture));
}

void tst_images::registryLookupOrder()
{
    MimeSourceFactory top;
    MimeSourceFactory first;
    MimeSourceFactory second;
    QImage red(1, 1, QImage::Format_RGB32);
    red.fill(Qt::red);
    QImage blue(1, 1, QImage::Format_RGB32);
    blue.fill(Qt::blue);
    first.setImage(QStringLiteral("x"), red);
    second.setImage(QStringLiteral("x"), blue);
    second.setImage(QStringLiteral("y"), blue);

    top.addFactory(&first);
    top.addFactory(&second);
    top.addFactory(&first);
    top.addFactory(&top);
    QCOMPARE(top.factories().size(), std::size_t(2));
    QCOMPARE(top.data(QStringLiteral("x")), red);
    QCOMPARE(top.data(QStringLiteral("y")), blue);

    top.setImage(QStringLiteral("y"), red);
    QCOMPARE(top.data(QStringLiteral("y")), red);
    top.setImage(QStringLiteral("y"), QImage());
    QCOMPARE(top.data(QStringLiteral("y")), blue);

    top.removeFactory(&second);
    QVERIFY(top.data(QStringLiteral("y")).isNull());
}

QTEST_MAIN(tst_images)
#include "tst_images.moc"
