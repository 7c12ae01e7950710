// Decodes a JPEG picture held in memory into a QImage with libjpeg (standard decompression only:
// baseline or progressive, grey or colour). A damaged or truncated picture gives a null image,
// never a crash or a message on the terminal. Nothing here knows where the bytes come from.
#pragma once

#include <QByteArray>
#include <QImage>

namespace wizard {

QImage DecodeJpeg(const QByteArray& bytes);

}  // namespace wizard
