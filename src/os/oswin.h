// What the two Windows files of the system layer share, and the store's test
// seam. Windows only; the rest of the program sees os.h alone.
#ifndef MOLTRAVYTEXT_OSWIN_H
#define MOLTRAVYTEXT_OSWIN_H
#if defined(_WIN32)

#include <windows.h>

// endforctrlc: ends the process for Ctrl-C and Ctrl-Break with the status
// Windows' own handler gives it; any other event goes on to the next
// handler. The console's handlers and the store's end through it.
BOOL endforctrlc(DWORD event);

// The store's test seam, for what wine cannot show: while
// storerefuserenames is above 0, each rename as POSIX does is refused as
// Windows 10 1607 to 1803 refuse the read-only flag, counting it down; and
// osfinishreplace leaves in storetrail the forms it tried, in order
// ("posix-ignoring-read-only", "posix", "move"), each once.
extern int storerefuserenames;
extern char storetrail[256];

#endif
#endif
