// The QR code of a text, as an image to show (libqrencode).
//
// The text's UTF-8 bytes are encoded in 8-bit mode at error correction level
// M, in the smallest version that holds them; black modules on white, with
// the standard quiet zone of four modules on every side. The code is scaled
// to `size` pixels wide and high without smoothing, so module edges stay
// sharp for a camera (modules may differ by a pixel when `size` is not a
// multiple of the module count).
//
// A null image when the text cannot be encoded (too long for any version) or
// `size` is not positive. Any thread.
#pragma once

#include <QImage>
#include <QString>

namespace ql::remote {

inline constexpr int kQuietZone = 4; // modules

QImage qrImage(const QString& text, int size);

} // namespace ql::remote
