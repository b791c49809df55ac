// The console side of the Windows system layer: standard streams in binary,
// and a line typed at the console read in UTF-16 and handed on as the UTF-8
// bytes a terminal elsewhere gives, whatever the console's code page. Ctrl-C
// at the prompt ends the process as Windows ends it, never as an empty
// input. See os.h; the store is oswinstore.cpp.
#if defined(_WIN32)

#include "os.h"
#include "oswin.h"
#include "wintext.h"

#include <windows.h>

#include <cstdio>
#include <fcntl.h>
#include <io.h>

void osstartstreams(void) {
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
}

// A line typed at the console, as it is handed out: its UTF-8 bytes, the
// next one's place, a byte put back, and what one read leaves the next.
// ReadConsoleW returns a long line a piece at a time.
static const int consoleunits = 1024;
static unsigned char consolebytes[3 * consoleunits + 3];
static int consoleat;
static int consolecount;
static int consoleback = EOF;
static int consoleended;
static consolestate console = {0, 1, 0};
static int stdinconsole = -1; // not yet known
static HANDLE ctrlcevent;

// endforctrlc: ends the process for Ctrl-C and Ctrl-Break with the status
// Windows' own handler gives it (wine's gives 0, which a script would take
// for success); any other event goes on to the next handler. Handlers run
// on a thread of their own.
BOOL endforctrlc(DWORD event) {
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT)
        ExitProcess(STATUS_CONTROL_C_EXIT);
    return FALSE;
}

// notectrlc: the console's control handler while a line is read. Ctrl-C
// and Ctrl-Break stop the read; the reading thread is told, so that it
// does not take the stopped read for an empty input while this one ends
// the process.
static BOOL WINAPI notectrlc(DWORD event) {
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT)
        SetEvent(ctrlcevent);
    return endforctrlc(event);
}

// isconsole: whether standard input is a console, asked once.
static int isconsole(FILE *in) {
    if (in != stdin)
        return 0;
    if (stdinconsole < 0) {
        DWORD mode;
        stdinconsole = GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode);
        if (stdinconsole) {
            ctrlcevent = CreateEventW(NULL, TRUE, FALSE, NULL);
            SetConsoleCtrlHandler(notectrlc, TRUE);
        }
    }
    return stdinconsole;
}

// consolebyte: the next byte of the console's line, read as UTF-16 and
// handed on as UTF-8; EOF after a read that failed, or once the bytes read
// before a line that starts with Ctrl-Z are handed on.
static int consolebyte(void) {
    static wchar_t units[consoleunits];
    while (consoleat == consolecount) {
        DWORD n = 0;
        if (consoleended || console.ended)
            return EOF;
        if (!ReadConsoleW(GetStdHandle(STD_INPUT_HANDLE), units, consoleunits,
                          &n, NULL) ||
            n == 0) {
            // A read stopped by Ctrl-C returns before the handlers have
            // ended the process: wait for them, rather than report an empty
            // input first.
            if (ctrlcevent != NULL &&
                WaitForSingleObject(ctrlcevent, 500) == WAIT_OBJECT_0)
                Sleep(5000);
            consoleended = 1;
            return EOF;
        }
        consolecount = consoleutf8(units, (int)n, &console, consolebytes);
        consoleat = 0;
        if (consolecount < 0) {
            consolecount = 0;
            consoleended = 1;
        }
    }
    return consolebytes[consoleat++];
}

int osgetbyte(FILE *in) {
    if (!isconsole(in))
        return getc(in);
    int c = consoleback;
    consoleback = EOF;
    return c != EOF ? c : consolebyte();
}

void osungetbyte(int c, FILE *in) {
    if (isconsole(in))
        consoleback = c;
    else
        ungetc(c, in);
}

#endif
