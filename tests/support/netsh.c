/* Stands in for Windows' netsh in the Wine tests: writes the arguments it was
 * given, as Windows' C runtime split them, one a line (UTF-8), to
 * netsh-arguments.txt beside itself, then waits (20 s at most) for netsh-done
 * there, so that the test can change the address meanwhile. */
#include <stdio.h>
#include <windows.h>

int wmain(int argc, wchar_t **argv)
{
    wchar_t path[MAX_PATH + 32];
    GetModuleFileNameW(NULL, path, MAX_PATH);
    wchar_t *end = wcsrchr(path, L'\\') + 1;
    wcscpy(end, L"netsh-arguments.txt");
    FILE *out = _wfopen(path, L"wb");
    for (int i = 1; out && i < argc; ++i) {
        char line[1024];
        WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, line, sizeof line, NULL, NULL);
        fprintf(out, "%s\n", line);
    }
    if (out)
        fclose(out);
    wcscpy(end, L"netsh-done");
    for (int waited = 0; waited < 20000 && GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES; waited += 50)
        Sleep(50);
    return 0;
}
