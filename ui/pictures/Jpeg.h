#pragma once

#include <QByteArray>
#include <QImage>

namespace korvane::pictures {

// Decodes a baseline or progressive JPEG held in memory (grey or colour) into an RGB32
// image. Anything libjpeg refuses or only half understands (a corrupt or truncated stream,
// an unsupported colour space, a picture larger than 16384 pixels on a side) gives a null
// image: the decoder never prints and never ends the process.
QImage decoderJpeg(const QByteArray& donnees);

// Encodes an image as a baseline JPEG at the given quality (1 to 100), without chroma
// subsampling so that thin lines stay sharp. Returns an empty array for a null image.
QByteArray encoderJpeg(const QImage& image, int qualite = 92);

} // namespace korvane::pictures
