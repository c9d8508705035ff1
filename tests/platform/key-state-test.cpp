#include "platform/key-state.h"

#include "scripted-keys.h"
#include "support/log-capture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <functional>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace kestrel::platform {
namespace {

using namespace std::chrono_literals;

constexpr uint32_t kV = 86, kX = 88, kShift = 16, kLeftShift = 160, kRightShift = 161, kTab = 9,
		   kCapsLock = 20, kSpace = 32, kDigit7 = 55, kF5 = 116, kX1 = 5, kX2 = 6, kLeftButton = 1;

bool eventually(const std::function<bool()> &condition)
{
	const auto deadline = std::chrono::steady_clock::now() + 3s;
	while (!condition()) {
		if (std::chrono::steady_clock::now() > deadline)
			return false;
		std::this_thread::sleep_for(5ms);
	}
	return true;
}

pid_t spawn(const std::vector<std::string> &arguments, const std::string &display = {})
{
	std::vector<char *> argv;
	for (const std::string &argument : arguments)
		argv.push_back(const_cast<char *>(argument.c_str()));
	argv.push_back(nullptr);
	std::vector<std::string> variables;
	for (char **variable = environ; *variable; ++variable)
		if (std::strncmp(*variable, "DISPLAY=", 8) != 0)
			variables.emplace_back(*variable);
	if (!display.empty())
		variables.push_back("DISPLAY=" + display);
	std::vector<char *> envp;
	for (std::string &variable : variables)
		envp.push_back(variable.data());
	envp.push_back(nullptr);
	pid_t pid = 0;
	return posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), envp.data()) == 0 ? pid : 0;
}

void stop(pid_t pid)
{
	if (pid > 0) {
		kill(pid, SIGTERM);
		waitpid(pid, nullptr, 0);
	}
}

// A private X server for the test, so no real keyboard is involved.
class PrivateXServer {
public:
	PrivateXServer()
	{
		int fds[2];
		if (pipe(fds) != 0)
			return;
		pid_ = spawn({"Xvfb", "-displayfd", std::to_string(fds[1]), "-noreset", "-nolisten", "tcp",
			      "-screen", "0", "320x240x24"});
		close(fds[1]);
		char number[16] = {};
		const ssize_t got = pid_ ? read(fds[0], number, sizeof number - 1) : 0;
		close(fds[0]);
		if (got > 0)
			display_ = ":" + std::string(number, number + std::strcspn(number, "\n"));
	}
	~PrivateXServer() { quit(); }

	void quit()
	{
		stop(pid_);
		pid_ = 0;
	}

	const std::string &display() const { return display_; }

	// Presses or releases keys and buttons through XTEST, as a device would; they stay down
	// after xdotool exits (-noreset: even if the watcher has not connected yet).
	void xdotool(const std::vector<std::string> &actions) const
	{
		std::vector<std::string> arguments{"xdotool"};
		arguments.insert(arguments.end(), actions.begin(), actions.end());
		int status = -1;
		const pid_t pid = spawn(arguments, display_);
		ASSERT_GT(pid, 0) << "xdotool could not be started";
		waitpid(pid, &status, 0);
		ASSERT_EQ(status, 0);
	}

private:
	pid_t pid_ = 0;
	std::string display_;
};

class DesktopKeysOnX11 : public ::testing::Test {
protected:
	void SetUp() override
	{
		if (server.display().empty())
			GTEST_SKIP() << "Xvfb could not be started";
		keys = watchDesktopKeys(server.display());
	}

	bool becomes(uint32_t vk, bool down)
	{
		return eventually([&] { return keys->isKeyDown(vk) == down; });
	}

	PrivateXServer server;
	std::unique_ptr<KeyState> keys;
};

TEST_F(DesktopKeysOnX11, ReportsKeysWhileTheyAreHeld)
{
	server.xdotool({"keydown", "v"});
	EXPECT_TRUE(becomes(kV, true));
	EXPECT_FALSE(keys->isKeyDown(kX));
	server.xdotool({"keyup", "v"});
	EXPECT_TRUE(becomes(kV, false));

	const std::vector<std::string> names{"Tab", "space", "7", "F5", "Caps_Lock"};
	const std::vector<uint32_t> codes{kTab, kSpace, kDigit7, kF5, kCapsLock};
	for (const std::string &name : names)
		server.xdotool({"keydown", name});
	for (uint32_t vk : codes)
		EXPECT_TRUE(becomes(vk, true)) << "vk " << vk;
	for (const std::string &name : names)
		server.xdotool({"keyup", name});
	for (uint32_t vk : codes)
		EXPECT_TRUE(becomes(vk, false)) << "vk " << vk;
}

TEST_F(DesktopKeysOnX11, ModifierCodesTellTheSidesApartUnlessSideIndependent)
{
	server.xdotool({"keydown", "Shift_L"});
	EXPECT_TRUE(becomes(kShift, true));
	EXPECT_TRUE(keys->isKeyDown(kLeftShift));
	EXPECT_FALSE(keys->isKeyDown(kRightShift));
	server.xdotool({"keyup", "Shift_L"});
	EXPECT_TRUE(becomes(kShift, false));
}

TEST_F(DesktopKeysOnX11, ReportsMouseSideButtons)
{
	server.xdotool({"mousedown", "8"});
	EXPECT_TRUE(becomes(kX1, true));
	EXPECT_FALSE(keys->isKeyDown(kX2));
	EXPECT_FALSE(keys->isKeyDown(kLeftButton));
	server.xdotool({"mouseup", "8", "mousedown", "9"});
	EXPECT_TRUE(becomes(kX2, true));
	EXPECT_TRUE(becomes(kX1, false));
	server.xdotool({"mouseup", "9"});
	EXPECT_TRUE(becomes(kX2, false));
}

// The pollers never start the watcher (the audio thread is one of them): only the module does.
TEST_F(DesktopKeysOnX11, PollersSeeTheDesktopOnlyBetweenStartAndStop)
{
	setenv("DISPLAY", server.display().c_str(), 1);
	server.xdotool({"keydown", "v"});
	ASSERT_TRUE(becomes(kV, true));
	EXPECT_FALSE(isKeyDown(kV));
	std::this_thread::sleep_for(100ms);
	EXPECT_FALSE(isKeyDown(kV)) << "a poll started a watcher";

	startWatchingDesktopKeys();
	EXPECT_TRUE(eventually([] { return isKeyDown(kV); }));
	stopWatchingDesktopKeys();
	EXPECT_FALSE(isKeyDown(kV));
	server.xdotool({"keyup", "v"});
}

// Xlib's default for a lost server is to end the process, OBS with it.
TEST(DesktopKeysOnALostX11, KeysReadReleasedAndTheProcessRuns)
{
#ifdef __SANITIZE_THREAD__
	GTEST_SKIP() << "Xlib's own lost-connection path unlocks a mutex it does not hold";
#endif
	PrivateXServer server;
	if (server.display().empty())
		GTEST_SKIP() << "Xvfb could not be started";
	test::LogCapture log; // before the watcher's thread, which logs into it
	const auto keys = watchDesktopKeys(server.display());
	server.xdotool({"keydown", "v"});
	ASSERT_TRUE(eventually([&] { return keys->isKeyDown(kV); }));
	server.quit();
	EXPECT_TRUE(eventually([&] { return !keys->isKeyDown(kV); }));
	EXPECT_TRUE(eventually([&] { return !log.linesContaining("Lost the X display").empty(); }));
}

TEST(DesktopKeysWithoutDisplay, EveryKeyReadsUpAndOneLineIsLogged)
{
	test::LogCapture log;
	{
		const auto keys = watchDesktopKeys(":4093"); // no server there
		ASSERT_TRUE(eventually([&] { return !log.linesContaining("[Kestrel]").empty(); }));
		std::this_thread::sleep_for(50ms);
		for (uint32_t vk = 0; vk < 512; ++vk)
			ASSERT_FALSE(keys->isKeyDown(vk)) << vk;
	}
	const auto lines = log.linesContaining("[Kestrel]");
	ASSERT_EQ(lines.size(), 1u);
	EXPECT_EQ(lines[0].rfind("[Kestrel] No X display", 0), 0u) << lines[0];
}

TEST(KeyStateSeam, InstalledKeyStateAnswersEveryPollerUntilRemoved)
{
	{
		test::ScriptedKeys scripted;
		EXPECT_EQ(&keyState(), &scripted);
		EXPECT_FALSE(isKeyDown(kV));
		scripted.hold(kV);
		EXPECT_TRUE(isKeyDown(kV));
		const int polls = scripted.polls();
		EXPECT_FALSE(isKeyDown(0));
		EXPECT_EQ(scripted.polls(), polls) << "code 0 is no key and is never polled";
	}
	EXPECT_EQ(detail::installedKeyState.load(), nullptr);
}

} // namespace
} // namespace kestrel::platform
