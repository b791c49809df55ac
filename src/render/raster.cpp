#include "raster.h"

int64_t rasterwidth(int sentences) {
    return (int64_t)columnpitch * sentences + 2 * margin -
           (columnpitch - cellsize);
}

int64_t rasterheight(int longest) {
    return (int64_t)cellsize * (longest + 1);
}
