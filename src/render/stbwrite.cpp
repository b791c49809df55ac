// Compiles the image library's writer, stb_image_write.h, whose BMP writer
// stores the picture (the tests also use its PNG and JPEG writers to make
// glyph files). It reads only the program's own raster, so unlike the
// decoder it needs no zeroed locals, which would cost it a store a pixel.
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>
