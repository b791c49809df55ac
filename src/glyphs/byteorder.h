// Numbers stored in a file's bytes: BMP's are little-endian, PNG's
// big-endian. The BMP and PNG rewrites share these.
#ifndef MOLTRAVYTEXT_BYTEORDER_H
#define MOLTRAVYTEXT_BYTEORDER_H

#include <cstdint>

inline uint32_t le16(const unsigned char *p) {
    return (uint32_t)p[1] << 8 | p[0];
}

inline uint32_t le32(const unsigned char *p) {
    return (uint32_t)p[3] << 24 | (uint32_t)p[2] << 16 | (uint32_t)p[1] << 8 |
           p[0];
}

inline uint32_t be32(const unsigned char *p) {
    return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 |
           p[3];
}

inline void putbe32(unsigned char *p, uint32_t v) {
    p[0] = (unsigned char)(v >> 24);
    p[1] = (unsigned char)(v >> 16);
    p[2] = (unsigned char)(v >> 8);
    p[3] = (unsigned char)v;
}

inline void putle16(unsigned char *p, uint32_t v) {
    p[0] = (unsigned char)v;
    p[1] = (unsigned char)(v >> 8);
}

inline void putle32(unsigned char *p, uint32_t v) {
    putle16(p, v);
    putle16(p + 2, v >> 16);
}

#endif
