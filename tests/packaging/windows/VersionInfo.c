/* Prints what Explorer shows of a program: the strings of its version
 * resource (Russian, Unicode block) and the number of icons it carries, one
 * "Name=value" line each, UTF-8.
 *
 *   VersionInfo.exe PROGRAM.exe
 */
#include <windows.h>
#include <shellapi.h>
#include <stdio.h>
#include <stdlib.h>

static void printUtf8(const wchar_t* name, const wchar_t* value) {
    char text[1024];
    wchar_t line[512];
    _snwprintf(line, 511, L"%ls=%ls", name, value);
    line[511] = 0;
    if (WideCharToMultiByte(CP_UTF8, 0, line, -1, text, sizeof text, NULL, NULL) > 0) printf("%s\n", text);
}

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: VersionInfo.exe PROGRAM.exe\n");
        return 2;
    }
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(argv[1], &ignored);
    void* info = size ? malloc(size) : NULL;
    if (!info || !GetFileVersionInfoW(argv[1], 0, size, info)) {
        fprintf(stderr, "no version resource (err=%lu)\n", GetLastError());
        return 1;
    }
    static const wchar_t* names[] = {L"ProductName", L"ProductVersion", L"FileVersion", L"FileDescription",
                                     L"CompanyName"};
    for (size_t i = 0; i < sizeof names / sizeof names[0]; ++i) {
        wchar_t key[128];
        wchar_t* value = NULL;
        UINT length = 0;
        _snwprintf(key, 127, L"\\StringFileInfo\\041904B0\\%ls", names[i]);
        key[127] = 0;
        if (VerQueryValueW(info, key, (void**)&value, &length) && length > 0) printUtf8(names[i], value);
    }
    free(info);
    printf("Icons=%u\n", ExtractIconExW(argv[1], -1, NULL, NULL, 0));
    return 0;
}
