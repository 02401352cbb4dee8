/* limited PROGRAM ARGUMENTS: runs the program with the limited token that an
 * administrator's elevated one is linked to, as Windows starts programs when
 * it asks for elevation only on demand (Wine starts every program elevated). */
#include <windows.h>

int wmain(void)
{
    HANDLE token;
    TOKEN_LINKED_TOKEN linked;
    DWORD size, status = 1;
    STARTUPINFOW startup = {0};
    PROCESS_INFORMATION process;
    wchar_t *command = wcschr(GetCommandLineW() + 1, L' ') + 1; /* after our own name */
    startup.cb = sizeof startup;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token) ||
        !GetTokenInformation(token, TokenLinkedToken, &linked, sizeof linked, &size) ||
        !CreateProcessAsUserW(linked.LinkedToken, NULL, command, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process))
        return 2;
    WaitForSingleObject(process.hProcess, INFINITE);
    GetExitCodeProcess(process.hProcess, &status);
    return (int)status;
}
