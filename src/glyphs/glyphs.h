// The glyph set: 29 image files read from the current folder at run time,
// one for each symbol of the script, taken in a fixed order.
//
//   for (int i = 0; i < glyphcount; i++) {
//       unsigned char *glyph; int channels, width, height;
//       if (loadglyph(glyphfilename(i), &glyph, &channels, &width,
//                     &height) != glyphloaded) ... fail ...
//       ... stamp glyph for glyphcharacter(i) ...
//       releaseglyph(glyph);
//   }
#ifndef MOLTRAVYTEXT_GLYPHS_H
#define MOLTRAVYTEXT_GLYPHS_H

const int glyphcount = 29;
const int glyphsize = 50;

// glyphfilename: the file of glyph i (0 to 28): "a.bmp" to "z.bmp", then
// "_.bmp" (space), "_period.bmp" and "_question.bmp".
const char *glyphfilename(int i);

// glyphcharacter: the message character that glyph i stands for.
char glyphcharacter(int i);

// What loadglyph found.
enum {
    glyphloaded = 0,     // *glyph holds 50 by 50 grey bytes
    glyphunreadable = 1, // missing, unreadable, or not an image
    glyphwrongsize = 2   // an image, but not 50 by 50 (see *width, *height)
};

// loadglyph: reads a plain BMP or PNG file of at most 256 KiB, recognised by
// its content, reduced to one grey byte a pixel (colour by the library's
// rule, alpha dropped). A PNG is read as libpng reads it (pngrewrite.h), a
// BMP as most decoders read it (bmpinfo.h, bmprewrite.h); either is brought
// into one plain layout before the image library decodes it. Any other
// format, a file cut off or damaged, or one the decoder would mishandle,
// fill with memory it never wrote or spend long on, is glyphunreadable. The
// size is read from the header before anything is rewritten or decoded: a
// header that describes a picture of another size, whatever its
// compression, is glyphwrongsize with the picture's real *width and
// *height (both 1 or more), and is never decoded. On glyphloaded *channels
// is the file's own channel count, and the caller owns *glyph and gives it
// to releaseglyph.
int loadglyph(const char *filename, unsigned char **glyph, int *channels,
              int *width, int *height);

void releaseglyph(unsigned char *glyph);

#endif
