/* limited PROGRAM ARGUMENTS: runs the program with the limited token linked to
 * an administrator's elevated one, as Windows starts programs that have to ask
 * for elevation (Wine starts every program elevated). */
#include <windows.h>

int wmain(void)
{
    HANDLE token;
    TOKEN_LINKED_TOKEN linked;
    DWORD size, status = 2;
    STARTUPINFOW startup = {0};
    PROCESS_INFORMATION process;
    startup.cb = sizeof startup;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token) &&
        GetTokenInformation(token, TokenLinkedToken, &linked, sizeof linked, &size) &&
        CreateProcessAsUserW(linked.LinkedToken, NULL, wcschr(GetCommandLineW() + 1, L' ') + 1, NULL, NULL, FALSE, 0,
                             NULL, NULL, &startup, &process)) {
        WaitForSingleObject(process.hProcess, INFINITE);
        GetExitCodeProcess(process.hProcess, &status);
    }
    return (int)status;
}
