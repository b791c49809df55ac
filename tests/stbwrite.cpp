// Compiles the image library's writers, stb_image_write.h, for the tests
// alone: they make glyph files as image tools write them (BMP, PNG, and a
// JPEG that is refused). The program compiles only the BMP writer it
// stores the picture with (src/render/raster.cpp).
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>
