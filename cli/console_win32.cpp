#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <windows.h>

#include "CliOutput.h"

// The lines are UTF-8 (the Russian station texts among them): the console
// is told so, or it shows them in the OEM code page as mojibake. The streams
// go binary so a line reaches a file or a pipe (the fleet reads its children's
// standard error) byte for byte, with no carriage return added; the console
// itself starts a new line at a bare line feed.
void prepareStandardStreams() {
    SetConsoleOutputCP(CP_UTF8);
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
}
