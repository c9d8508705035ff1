#include "platform/obs-process.h"

#include <windows.h>

#include <tlhelp32.h>
#include <wchar.h>

namespace kestrel::platform {

bool obsIsRunning()
{
	HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
	if (snapshot == INVALID_HANDLE_VALUE)
		return false;
	PROCESSENTRY32W entry{};
	entry.dwSize = sizeof(entry);
	bool running = false;
	for (BOOL more = Process32FirstW(snapshot, &entry); more && !running;
	     more = Process32NextW(snapshot, &entry))
		running = _wcsicmp(entry.szExeFile, L"obs64.exe") == 0 ||
			  _wcsicmp(entry.szExeFile, L"obs32.exe") == 0;
	CloseHandle(snapshot);
	return running;
}

} // namespace kestrel::platform
