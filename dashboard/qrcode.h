#pragma once

#include <QImage>
#include <QString>

// The QR code of text (UTF-8, error correction level M) as a black-on-white
// image: each module moduleSize pixels square, with the quiet zone of four
// modules around it that cameras need. A null image when the text does not
// fit into a QR code.
QImage qrCodeImage(const QString &text, int moduleSize);
