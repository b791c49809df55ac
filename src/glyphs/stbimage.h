// The image library's decoder as this program builds it: BMP and PNG only.
//
// A glyph set is drawn line art, which both hold exactly. The library's other
// decoders (JPEG, GIF, TGA, PSD, HDR, PIC, PNM), as Debian ships them, crash,
// hang, or copy stale memory into the image on crafted files, and glyph sets
// are shared between users; so they are not compiled in at all, and a glyph
// file in one of those formats is refused like any file that is not an
// image. Include this instead of <stb_image.h>.
#ifndef MOLTRAVYTEXT_STBIMAGE_H
#define MOLTRAVYTEXT_STBIMAGE_H

#include <cstddef>
#include <cstdint>

#define STBI_ONLY_BMP
#define STBI_ONLY_PNG
#include <stb_image.h>

// The most memory the library may take in one block while it decodes a
// glyph (a 16-bit RGBA PNG of 50 by 50 needs about 20 KiB), and so also the
// most a PNG's image data may inflate to, and a run-length BMP unpack to.
const size_t decoderblocklimit = 1 << 20;

#endif
