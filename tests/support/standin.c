/* Stands in for a Windows tool (netsh, icacls) in the Wine tests: appends the
 * arguments it was given, as Windows' C runtime split them, one a line
 * (UTF-8), then an empty line, to <its name>-arguments.txt beside itself; then
 * waits (20 s at most) for <its name>-done there, or <its name>-done-<N> for
 * its N-th call, so that the test can act meanwhile (change the address that
 * netsh would), call by call. */
#include <stdio.h>
#include <windows.h>

int wmain(int argc, wchar_t **argv)
{
    wchar_t path[MAX_PATH + 64];
    wchar_t numbered[MAX_PATH + 64];
    GetModuleFileNameW(NULL, path, MAX_PATH);
    wchar_t *dot = wcsrchr(path, L'.');
    wcscpy(dot, L"-arguments.txt");
    int calls = 0;
    FILE *out = _wfopen(path, L"a+b");
    for (int i = 1; out && i < argc; ++i) {
        char line[2048];
        WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, line, sizeof line, NULL, NULL);
        fprintf(out, "%s\n", line);
    }
    if (out) {
        fprintf(out, "\n");
        /* Calls so far, this one included: the empty lines that end them. */
        fseek(out, 0, SEEK_SET);
        int c;
        int last = '\n';
        while ((c = fgetc(out)) != EOF) {
            if (c == '\n' && last == '\n')
                ++calls;
            last = c;
        }
        fclose(out);
    }
    wcscpy(dot, L"-done");
    swprintf(numbered, MAX_PATH + 64, L"%ls-%d", path, calls);
    for (int waited = 0; waited < 20000 && GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES &&
         GetFileAttributesW(numbered) == INVALID_FILE_ATTRIBUTES;
         waited += 50)
        Sleep(50);
    return 0;
}
