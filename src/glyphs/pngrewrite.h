// PNG glyph files read as libpng 1.6, the format's reference decoder, reads
// them when a program reads a file to its end (png_read_end, its benign
// errors taken as warnings), and brought into one plain layout before the
// image library sees them, in memory, as the BMP rewrite does for BMPs
// (bmprewrite.h).
//
// The image library checks none of a PNG's checksums and takes the image
// data in whatever chunks it finds, so a file damaged in a download or on a
// disk would come out as a wrong glyph, with no word; and it refuses some
// harmless quirks that libpng reads. Here the file is walked as libpng
// walks it, and its image data inflated by zlib as libpng calls zlib: the
// window from the stream's own header, the data handed over 8 KiB at a time
// and never across a chunk's end, the output asked for a row at a time
// (pass by pass when interlaced), then, after the last row, once more into
// a scratch buffer to see the stream end. What libpng refuses is refused:
// - a chunk cut off, of a length of 2^31 or more, or whose type is not four
//   letters; no end chunk (IEND);
// - a critical chunk (IHDR, PLTE, IDAT, IEND, or one unknown, such as
//   Apple's CgBI) whose CRC does not match, or unknown at all;
// - a header chunk (IHDR) that is not first (but for ancillary chunks
//   libpng does not know), not 13 bytes, or that describes no picture
//   (readpnginfo); a second one;
// - a second palette (PLTE), or none before a palette picture's image data;
//   an empty one, or in a palette picture one of no whole entries or of
//   more than 256;
// - image data that zlib refuses, or that ends, or whose chunks end, before
//   the last row.
// And what libpng warns of is read: an ancillary chunk whose CRC does not
// match (dropped); a transparency chunk (tRNS) out of place, a second one,
// of the wrong length, or in a picture that has alpha (dropped, so that it
// gives no alpha channel), and one a later palette cancels; image data past
// the last row, damaged or not, in the same chunk or in later ones, even
// after other chunks.
//
// Stricter than libpng, to bound the work a crafted file can cost: image
// data that inflates to more than decoderblocklimit (stbimage.h), or whose
// zlib stream needs more than pngstreamlimit bytes of compressed data to
// end, is refused.
//
// The result holds the signature, the header, the palette of a palette
// picture, the transparency chunk libpng takes, one image data chunk whose
// zlib stream stores, uncompressed, exactly the rows the picture needs, and
// the end chunk. The library inflates that at almost no cost, however the
// file was compressed.
//
//   pnginfo png;
//   int kind = readpnginfo(data, size, &png);   1 a PNG, 0 no PNG,
//                                                -1 no picture described
//   if (rewritepng(&png, &data, &size) != 0) ... refuse the file ...
#ifndef MOLTRAVYTEXT_PNGREWRITE_H
#define MOLTRAVYTEXT_PNGREWRITE_H

#include <cstddef>
#include <cstdint>

// The most compressed bytes zlib is given to inflate one file's image data:
// a crafted stream of nothing but blocks with codes of their own makes zlib
// build code tables at about 600 instructions a byte, so 29 glyph files of
// this much take about 1.2 G instructions, about a second on a small ARM
// board. A 50 by 50 picture needs at most 20,050 bytes of image data, and
// any encoder stores that in less.
const size_t pngstreamlimit = 64 << 10;

// What a PNG's header chunk says, read once.
struct pnginfo {
    int64_t width;   // 1 to 2^31 - 1
    int64_t height;  // 1 to 2^31 - 1
    int depth;       // bits a sample: 1, 2, 4, 8 or 16
    int colour;      // 0 grey, 2 colour, 3 palette, 4 grey and alpha, 6 colour
                     // and alpha
    int interlaced;  // 1 for Adam7, else 0
    size_t headerat; // where the header chunk starts
};

// readpnginfo: *png from the header chunk of data (size bytes), the first
// chunk but for ancillary ones libpng does not know, which it skips there
// too. Returns 0 for a file that is no PNG; -1 for one with no whole header
// chunk with a matching CRC there, or whose header describes no picture as
// libpng judges it (a side of 0 or past 2^31 - 1; a depth, colour type or
// pair of the two PNG has not; a compression, filter or interlace method
// other than 0, 0 and 0 or 1); else 1.
int readpnginfo(const unsigned char *data, size_t size, pnginfo *png);

// rewritepng: replaces *data (*size bytes, from malloc), the PNG that *png
// describes (readpnginfo returned 1), with the file described above, a new
// block from malloc, freeing the old one. Returns 0, or -1 for a PNG that
// is refused, or when memory runs out. The caller owns *data either way.
int rewritepng(const pnginfo *png, unsigned char **data, size_t *size);

#endif
