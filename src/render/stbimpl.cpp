// The image library's code, compiled once here with the project's own
// optimisation: Debian ships stb as headers, and building it into the program
// spends far fewer instructions than its prebuilt shared library.
#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image.h>
#include <stb_image_write.h>
