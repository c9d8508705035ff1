#include "platform/obs-restart.h"

#include "platform/win/wide-text.h"

#include <fstream>

namespace kestrel::platform {

namespace {

class SystemLauncher final : public ProcessLauncher {
public:
	bool startDetached(const DetachedCommand &command) const override
	{
		std::wstring line = L"\"" + toWide(command.program) + L"\"";
		for (const auto &argument : command.arguments)
			line += L" \"" + toWide(argument) + L"\"";
		STARTUPINFOW startup{};
		startup.cb = sizeof(startup);
		PROCESS_INFORMATION process{};
		if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE,
				    DETACHED_PROCESS | CREATE_NO_WINDOW, nullptr, nullptr, &startup,
				    &process))
			return false;
		CloseHandle(process.hThread);
		CloseHandle(process.hProcess);
		return true;
	}
};

// cmd.exe expands "%" even inside quotes; doubled, it stands for itself.
std::string batchText(const std::string &text)
{
	std::string out;
	for (char c : text) {
		out += c;
		if (c == '%')
			out += '%';
	}
	return out;
}

} // namespace

const ProcessLauncher &systemProcessLauncher()
{
	static const SystemLauncher launcher;
	return launcher;
}

// The paths are UTF-8: code page 65001 makes cmd.exe read the lines after it that way, so a
// user name with accents still names the right folder.
std::string obsRestartScript(const std::string &executable, const std::string &folder, int64_t)
{
	return "@echo off\r\n"
	       "chcp 65001 >nul\r\n"
	       "timeout /t 1 >nul\r\n"
	       "taskkill /f /im obs64.exe >nul 2>&1\r\n"
	       "start \"\" /d \"" +
	       batchText(folder) + "\" \"" + batchText(executable) +
	       "\"\r\n"
	       "del \"%~f0\"\r\n";
}

bool restartObsLater(const std::string &executable, const std::string &folder, const std::string &tempFolder)
{
	const std::string script = tempFolder + "\\wfld_restart.bat";
	std::ofstream out(toWide(script).c_str(), std::ios::binary | std::ios::trunc);
	if (!out)
		return false;
	out << obsRestartScript(executable, folder, GetCurrentProcessId());
	out.close();
	return out && processLauncher().startDetached({"cmd.exe", {"/c", script}});
}

} // namespace kestrel::platform
