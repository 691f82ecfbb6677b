#include "remote/QrImage.h"

#include <qrencode.h>

#include <memory>

namespace ql::remote {

QImage qrImage(const QString& text, int size) {
    if (size <= 0)
        return {};
    const QByteArray bytes = text.toUtf8();
    // Version 0: the smallest that holds the data.
    const std::unique_ptr<QRcode, decltype(&QRcode_free)> code(
        QRcode_encodeData(int(bytes.size()),
                          reinterpret_cast<const unsigned char*>(bytes.constData()), 0,
                          QR_ECLEVEL_M),
        &QRcode_free);
    if (!code || code->width <= 0)
        return {};
    const int modules = code->width;
    const int side = modules + 2 * kQuietZone;
    QImage plain(side, side, QImage::Format_Grayscale8);
    plain.fill(Qt::white);
    for (int y = 0; y < modules; ++y) {
        uchar* line = plain.scanLine(y + kQuietZone);
        for (int x = 0; x < modules; ++x)
            if (code->data[y * modules + x] & 1) // bit 0: a dark module
                line[x + kQuietZone] = 0;
    }
    return plain.scaled(size, size, Qt::IgnoreAspectRatio, Qt::FastTransformation);
}

} // namespace ql::remote
