#include "platform/obs-restart.h"

#include "platform/temp-files.h"

#include <fcntl.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include <fstream>

namespace kestrel::platform {

namespace {

// Single quotes keep every character literal; a quote inside becomes '\''.
std::string shellQuoted(const std::string &text)
{
	std::string quoted = "'";
	for (char c : text)
		quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
	return quoted + "'";
}

class SystemLauncher final : public ProcessLauncher {
public:
	bool startDetached(const DetachedCommand &command) const override
	{
		// Everything the child needs is built before fork: after it, only async-signal-safe calls.
		std::vector<std::string> words{command.program};
		words.insert(words.end(), command.arguments.begin(), command.arguments.end());
		std::vector<char *> argv;
		for (auto &word : words)
			argv.push_back(word.data());
		argv.push_back(nullptr);
		const long maxFd = sysconf(_SC_OPEN_MAX);

		// The pipe closes unread when exec succeeds; a failed exec writes its errno into it.
		int execResult[2];
		if (pipe2(execResult, O_CLOEXEC) != 0)
			return false;
		const pid_t child = fork();
		if (child == 0) {
			// A second fork in a new session: the program is adopted by init, survives the end
			// of OBS and never becomes OBS's zombie.
			setsid();
			if (const pid_t grandchild = fork(); grandchild != 0)
				_exit(grandchild > 0 ? 0 : 1);
			const int null = open("/dev/null", O_RDWR);
			dup2(null, 0);
			dup2(null, 1);
			dup2(null, 2);
			// OBS's sockets and files must not stay open in the script (a listening port would
			// block the new OBS).
			for (long fd = 3; fd < maxFd; ++fd)
				if (fd != execResult[1])
					close(static_cast<int>(fd));
			execv(argv[0], argv.data());
			const int error = errno;
			(void)!write(execResult[1], &error, sizeof(error));
			_exit(127);
		}
		close(execResult[1]);
		int status = 0;
		const bool forked = child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) &&
				    WEXITSTATUS(status) == 0;
		int error = 0;
		const bool execFailed = forked && read(execResult[0], &error, sizeof(error)) > 0;
		close(execResult[0]);
		return forked && !execFailed;
	}
};

} // namespace

const ProcessLauncher &systemProcessLauncher()
{
	static const SystemLauncher launcher;
	return launcher;
}

std::string obsRestartScript(const std::string &executable, const std::string &folder, int64_t processId)
{
	// A process that has ended (even one not yet reaped) no longer shows its executable.
	const std::string pid = std::to_string(processId);
	return "#!/bin/sh\n"
	       "obs_running() { [ \"$(readlink /proc/" +
	       pid + "/exe)\" = " + shellQuoted(executable) +
	       " ]; }\n"
	       "sleep 1\n"
	       "obs_running && kill -KILL " +
	       pid +
	       "\n"
	       "i=0\n"
	       "while obs_running && [ $i -lt 50 ]; do sleep 0.1; i=$((i + 1)); done\n"
	       "cd " +
	       shellQuoted(folder) + " && " + shellQuoted(executable) +
	       " >/dev/null 2>&1 &\n"
	       "rm -f -- \"$0\"\n";
}

bool restartObsLater(const std::string &executable, const std::string &folder, const std::string &tempFolder)
{
	// A fresh file of this user's, never a name someone else could have planted in /tmp.
	std::string error;
	const std::string script = createUniqueFile(tempFolder, "wfld_restart-", error);
	if (script.empty())
		return false;
	std::ofstream out(script, std::ios::binary | std::ios::trunc);
	out << obsRestartScript(executable, folder, getpid());
	out.close();
	if (!out || !processLauncher().startDetached({"/bin/sh", {script}})) {
		unlink(script.c_str());
		return false;
	}
	return true;
}

} // namespace kestrel::platform
