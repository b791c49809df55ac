// The image library's BMP writer, compiled once here with the project's own
// optimisation. It reads only the program's own raster, so unlike the decoder
// it needs no zeroed locals, which would cost it a store a pixel.
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>
