#include "image_embedding.h"

#include <QImage>

QByteArray rawPixels(const QImage& image)
{
    if (image.isNull())
        return QByteArray();
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    QByteArray out;
    out.reserve(qsizetype(rgb.width()) * rgb.height() * 4);
    for (int y = 0; y < rgb.height(); ++y) {
        // Row by row: a scan line may be padded, the table's rows are not.
        const QRgb* line = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
        for (int x = 0; x < rgb.width(); ++x) {
            const QRgb pixel = line[x] | 0xFF000000u;
            out.append(char(pixel & 0xFF));
            out.append(char((pixel >> 8) & 0xFF));
            out.append(char((pixel >> 16) & 0xFF));
            out.append(char((pixel >> 24) & 0xFF));
        }
    }
    return out;
}

QByteArray compressedPixels(const QImage& image)
{
    return qCompress(rawPixels(image), 9);
}

namespace
{

QByteArray stringLiteral(const QString& text)
{
    QByteArray literal = "\"";
    for (const char c : text.toUtf8()) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7F && c != '"' && c != '\\' && c != '?') {
            literal.append(c);
        } else {
            // Three octal digits always end the escape, whatever follows.
            literal.append('\\');
            literal.append(char('0' + ((byte >> 6) & 7)));
            literal.append(char('0' + ((byte >> 3) & 7)));
            literal.append(char('0' + (byte & 7)));
        }
    }
    literal.append('"');
    return literal;
}

} // namespace

QByteArray tableSource(const std::vector<EmbeddedPicture>& pictures)
{
    QByteArray source =
        "// Generated at build time by embed_images from the pictures in ui/images.\n"
        "#include \"image_collection.h\"\n\n";
    for (std::size_t i = 0; i < pictures.size(); ++i) {
        source +=
            "static const unsigned char image_" + QByteArray::number(qulonglong(i)) + "_data[] = {";
        const QByteArray& bytes = pictures[i].compressed;
        for (qsizetype k = 0; k < bytes.size(); ++k) {
            source += (k % 16 == 0) ? "\n    " : " ";
            source += "0x" +
                      QByteArray::number(static_cast<unsigned char>(bytes[k]), 16)
                          .rightJustified(2, '0') +
                      ",";
        }
        source += "\n};\n\n";
    }
    source += "const EmbedImage embed_image_vec[] = {\n";
    for (std::size_t i = 0; i < pictures.size(); ++i) {
        const EmbeddedPicture& p = pictures[i];
        source += "    {" + QByteArray::number(p.width) + ", " + QByteArray::number(p.height) +
                  ", 32, image_" + QByteArray::number(qulonglong(i)) + "_data, " +
                  QByteArray::number(qlonglong(p.compressed.size())) + "ul, 0, nullptr, false, " +
                  stringLiteral(p.name) + "},\n";
    }
    source += "    {0, 0, 0, nullptr, 0ul, 0, nullptr, false, nullptr},\n};\n";
    return source;
}
