// The page's PNG maker: a picture's grey bytes in, a grey 8-bit PNG of
// exactly those pixels out, made by stb_image_write's PNG writer. Built for
// wasm32-wasi as a module of its own with no main (a reactor), whose
// functions the page's worker calls; the console program never makes a PNG.
//
//   exports._initialize();                     once, before anything else
//   ptr = exports.pngbuffer(width * height);   room for the grey bytes
//   ... the grey bytes copied to ptr, row 0 first ...
//   len = exports.pngencode(ptr, width, height);   0: out of memory
//   ... len bytes of PNG at exports.pngdata() ...
//   exports.pngrelease();                      frees both blocks
#include <cstdlib>

#define STBI_WRITE_NO_STDIO
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>

static unsigned char *grey;
static unsigned char *png;

extern "C" {

// pngbuffer: a block of size bytes for the grey pixels, or 0.
__attribute__((export_name("pngbuffer"))) unsigned char *pngbuffer(int size) {
    free(grey);
    grey = (unsigned char *)malloc(size > 0 ? (size_t)size : 1);
    return grey;
}

// pngencode: the PNG of the width by height grey pixels at pixels; returns
// its length, or 0 when memory ran out.
__attribute__((export_name("pngencode"))) int
pngencode(const unsigned char *pixels, int width, int height) {
    int length = 0;
    free(png);
    png = stbi_write_png_to_mem(pixels, width, width, height, 1, &length);
    return png != NULL ? length : 0;
}

// pngdata: where the last PNG made lies.
__attribute__((export_name("pngdata"))) unsigned char *pngdata(void) {
    return png;
}

// pngrelease: frees the grey pixels and the PNG.
__attribute__((export_name("pngrelease"))) void pngrelease(void) {
    free(grey);
    free(png);
    grey = NULL;
    png = NULL;
}
}
