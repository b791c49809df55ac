// PNG glyph files read as libpng, the format's reference decoder, reads
// them, and brought into one plain layout before the image library sees
// them, in memory, as the BMP rewrite does for BMPs (bmprewrite.h).
//
// The image library checks none of a PNG's checksums and takes the image
// data in whatever chunks it finds, so a file damaged in a download or on a
// disk would come out as a wrong glyph, with no word; and it refuses some
// harmless quirks that libpng reads. Here the file is checked as libpng
// checks it; what libpng refuses is refused:
// - a chunk cut off, of a length of 2^31 or more, or whose type is not four
//   letters; no end chunk (IEND);
// - a critical chunk (IHDR, PLTE, IDAT, IEND, or one unknown, such as
//   Apple's CgBI) whose CRC does not match, or unknown at all;
// - a header chunk (IHDR) that is not first or not 13 bytes, or a second
//   one; a second palette (PLTE), or none before the image data of a
//   palette picture, or one of no whole entries or more than 256;
// - image data chunks (IDAT) that are not consecutive, or none;
// - image data that is not a whole zlib stream as zlib inflates it
//   (inflate.h): a window code over 7, a failed header check, an Adler-32
//   missing or not matching; or that inflates to less than the picture
//   needs, or past decoderblocklimit (stbimage.h), which bounds the work.
// And what libpng ignores is dropped: an ancillary chunk whose CRC does not
// match; a transparency chunk (tRNS) out of place (after the image data,
// before the palette, a second one), too long for the palette or of the
// wrong length for grey or colour, or in a picture that has alpha, so that
// it gives no alpha channel; image data past what the picture needs.
//
// The result holds the signature, the header, the palette of a palette
// picture, the transparency chunk libpng takes, one image data chunk whose
// zlib stream stores, uncompressed, exactly the bytes the picture needs,
// and the end chunk. The library inflates that at almost no cost, however
// the file was compressed.
//
//   int64_t width, height;
//   int kind = readpngheader(data, size, &width, &height);  1 a PNG,
//                                       0 no PNG, -1 no picture described
//   if (rewritepng(&data, &size) != 0) ... refuse the file ...
#ifndef MOLTRAVYTEXT_PNGREWRITE_H
#define MOLTRAVYTEXT_PNGREWRITE_H

#include <cstddef>
#include <cstdint>

// readpngheader: the picture's size, from the header chunk of data (size
// bytes). Returns 0 for a file that is no PNG; -1 for one whose first chunk
// is no whole header chunk with a matching CRC, or whose sides are not 1 to
// 2^31 - 1, as PNG allows: a header that describes no picture; else 1, with
// *width and *height.
int readpngheader(const unsigned char *data, size_t size, int64_t *width,
                  int64_t *height);

// rewritepng: when *data (*size bytes, from malloc) is a PNG, checks it and
// replaces it with the file described above, a new block from malloc,
// freeing the old one. Returns 0, or -1 for a PNG that is refused, or when
// memory runs out. A file that is no PNG is left as it is. The caller owns
// *data either way.
int rewritepng(unsigned char **data, size_t *size);

// chunkcrc: the CRC-32 of size bytes at data, as PNG's chunks carry it.
uint32_t chunkcrc(const unsigned char *data, size_t size);

#endif
