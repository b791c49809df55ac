// fillstack: fills 64 KiB of the stack below the caller's frame with value,
// so that a function the caller then calls, which reads a local variable it
// never wrote, reads value there. Two loads of one glyph file, one after
// fillstack(0x00) and one after fillstack(0xa5), must give the same glyph.
#ifndef MOLTRAVYTEXT_FILLSTACK_H
#define MOLTRAVYTEXT_FILLSTACK_H

__attribute__((noinline)) static void fillstack(unsigned char value) {
    volatile unsigned char block[1 << 16];
    for (unsigned i = 0; i < sizeof block; i++)
        block[i] = value;
}

#endif
