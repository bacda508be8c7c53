#include "dashboard/qrcode.h"

#include <QPainter>

#include <qrencode.h>

#include <memory>

namespace {

constexpr int QuietZone = 4;

struct QrFree
{
    void operator()(QRcode *code) const { QRcode_free(code); }
};

} // namespace

QImage qrCodeImage(const QString &text, int moduleSize)
{
    const QByteArray bytes = text.toUtf8();
    const std::unique_ptr<QRcode, QrFree> code(
        QRcode_encodeString8bit(bytes.constData(), 0, QR_ECLEVEL_M));
    if (!code || moduleSize < 1)
        return {};
    const int width = code->width;
    const int side = (width + 2 * QuietZone) * moduleSize;
    QImage image(side, side, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    for (int y = 0; y < width; ++y) {
        for (int x = 0; x < width; ++x) {
            // Bit 0 of each byte is the module's colour: 1 dark.
            if (code->data[y * width + x] & 1)
                painter.fillRect((x + QuietZone) * moduleSize, (y + QuietZone) * moduleSize,
                                 moduleSize, moduleSize, Qt::black);
        }
    }
    return image;
}
