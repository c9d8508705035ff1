#include "platform/obs-restart.h"

#include "platform/recording-launcher.h"
#include "support/scratch-folder.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

namespace kestrel {
namespace {

using test::readFile;
using test::ScratchFolder;
using test::writeFile;

pid_t startSleeper()
{
	const pid_t child = fork();
	if (child == 0) {
		execl("/bin/sleep", "sleep", "30", static_cast<char *>(nullptr));
		_exit(127);
	}
	return child;
}

// Runs the script for `executable` against a sleeping child; true when the child was killed.
bool scriptKillsSleeper(const ScratchFolder &scratch, const std::string &executable)
{
	const pid_t sleeper = startSleeper();
	int status = 0;
	std::thread reaper([&] { waitpid(sleeper, &status, 0); });
	const auto script = scratch / "restart.sh";
	writeFile(script, platform::obsRestartScript(executable, scratch.root().string(), sleeper));
	EXPECT_EQ(system(("/bin/sh " + script.string()).c_str()), 0);
	EXPECT_FALSE(std::filesystem::exists(script)) << "the script removes itself";
	kill(sleeper, SIGTERM);
	reaper.join();
	return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
}

TEST(ObsRestart, ScriptEndsOnlyThatProcessByForceWhileItRunsTheExecutable)
{
	ScratchFolder scratch;
	EXPECT_TRUE(scriptKillsSleeper(scratch, std::filesystem::canonical("/bin/sleep").string()));
	// Never a real program here: the script starts the executable again.
	EXPECT_FALSE(scriptKillsSleeper(scratch, (scratch / "not-obs").string()))
	    << "a reused process id is left alone";
}

TEST(ObsRestart, ScriptQuotesPathsAndStartsTheSameExecutable)
{
	const std::string script =
	    platform::obsRestartScript("/opt/it's obs/bin/obs", "/opt/it's obs/bin", 4242);
	EXPECT_NE(script.find("sleep 1\n"), std::string::npos);
	EXPECT_NE(script.find("kill -KILL 4242\n"), std::string::npos);
	EXPECT_NE(script.find("readlink /proc/4242/exe)\" = '/opt/it'\\''s obs/bin/obs' ]"),
		  std::string::npos);
	EXPECT_NE(script.find("cd '/opt/it'\\''s obs/bin' && '/opt/it'\\''s obs/bin/obs' "),
		  std::string::npos);
	EXPECT_EQ(script.find("killall"), std::string::npos);
	EXPECT_NE(script.find("rm -f -- \"$0\"\n"), std::string::npos);
}

TEST(ObsRestart, WritesAFreshScriptAndStartsItDetached)
{
	ScratchFolder scratch;
	test::RecordingLauncher launcher;
	ASSERT_TRUE(platform::restartObsLater("/usr/bin/obs", "/usr/bin", scratch.root().string()));
	ASSERT_EQ(launcher.started.size(), 1u);
	const auto &command = launcher.started.front();
	EXPECT_EQ(command.program, "/bin/sh");
	ASSERT_EQ(command.arguments.size(), 1u);
	const std::filesystem::path script = command.arguments.front();
	EXPECT_EQ(script.parent_path(), scratch.root());
	EXPECT_EQ(script.filename().string().rfind("wfld_restart-", 0), 0u);
	EXPECT_EQ(readFile(script), platform::obsRestartScript("/usr/bin/obs", "/usr/bin", getpid()));

	EXPECT_FALSE(platform::restartObsLater("/usr/bin/obs", "/usr/bin", (scratch / "missing").string()));
	EXPECT_EQ(launcher.started.size(), 1u);
}

TEST(ObsRestart, SystemLauncherStartsTheProgramWithoutWaitingForIt)
{
	ScratchFolder scratch;
	const auto marker = scratch / "started";
	ASSERT_TRUE(platform::systemProcessLauncher().startDetached(
	    {"/bin/sh", {"-c", "sleep 0.2; echo done > '" + marker.string() + "'"}}));
	EXPECT_FALSE(std::filesystem::exists(marker));
	for (int i = 0; i < 300 && readFile(marker) != "done\n"; ++i)
		std::this_thread::sleep_for(std::chrono::milliseconds(10));
	EXPECT_EQ(readFile(marker), "done\n");
	EXPECT_FALSE(platform::systemProcessLauncher().startDetached({(scratch / "missing").string(), {}}));
}

} // namespace
} // namespace kestrel
