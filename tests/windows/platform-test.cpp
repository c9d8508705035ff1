#include "platform/app-data-folder.h"
#include "platform/file-copy.h"
#include "platform/file-lock.h"
#include "platform/file-state.h"
#include "platform/home-folder.h"
#include "platform/loopback-socket.h"
#include "platform/obs-restart.h"
#include "platform/pkce-crypto.h"
#include "platform/recording-launcher.h"
#include "platform/regular-file.h"
#include "platform/secret-store.h"
#include "platform/sha256.h"
#include "platform/temp-files.h"
#include "providers/utf8-path.h"
#include "support/scratch-folder.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <thread>

namespace kestrel {
namespace {

using namespace std::chrono_literals;
using test::readFile;
using test::ScratchFolder;
using test::writeFile;

std::string utf8(const std::filesystem::path &path)
{
	return utf8FromPath(path);
}

// Names whose UTF-16 form differs from any code page: accents, CJK, and an emoji (a pair of
// surrogates).
const std::string kNames[] = {"Café déjà vu", "配信の素材", "clip 🎥 final"};

TEST(WindowsKnownFolders, RoamingAppDataAndHomeComeFromTheShellAndTheEnvironment)
{
	const char *appData = std::getenv("APPDATA");
	ASSERT_NE(appData, nullptr);
	EXPECT_EQ(platform::roamingAppDataFolder(), appData);
	EXPECT_EQ(platform::homeFolder(), std::getenv("USERPROFILE"));

	const std::string profile = std::getenv("USERPROFILE");
	ASSERT_EQ(_wputenv_s(L"USERPROFILE", L"D:\\Usuarios\\José"), 0);
	EXPECT_EQ(platform::homeFolder(), "D:\\Usuarios\\José");
	_putenv_s("USERPROFILE", profile.c_str());
}

TEST(WindowsFiles, UnicodeNamesAreCopiedReadHashedAndMeasured)
{
	ScratchFolder scratch;
	for (const std::string &name : kNames) {
		SCOPED_TRACE(name);
		const std::string folder = utf8(scratch.root() / pathFromUtf8(name));
		std::filesystem::create_directories(pathFromUtf8(folder));
		const std::string source = folder + "\\" + name + ".mp4";
		writeFile(pathFromUtf8(source), "bytes of " + name);

		std::string error;
		const std::string unique = platform::createUniqueFile(folder, name + "-", error);
		ASSERT_FALSE(unique.empty()) << error;
		EXPECT_EQ(unique.rfind(folder + "\\" + name + "-", 0), 0u);

		const std::string target = folder + "\\copia " + name + ".mp4";
		EXPECT_EQ(platform::copyFileIntoPlace(source, target, ".kestrel-"), "");
		EXPECT_EQ(platform::readRegularFile(target, 1 << 20, error), "bytes of " + name);
		EXPECT_EQ(platform::sha256HexOfFile(target), platform::sha256Hex("bytes of " + name));
		const auto state = platform::fileState(target);
		ASSERT_TRUE(state);
		EXPECT_EQ(state->size, ("bytes of " + name).size());
	}
}

TEST(WindowsFiles, PathsLongerThan260CharactersWork)
{
	ScratchFolder scratch;
	std::filesystem::path folder = scratch.root();
	while (folder.native().size() < 300)
		folder /= std::string(40, 'd');
	std::filesystem::create_directories(folder);
	const std::string source = utf8(folder / "source.mkv");
	const std::string target = utf8(folder / "target.mkv");
	ASSERT_GT(target.size(), 300u);
	writeFile(pathFromUtf8(source), "long way down");

	EXPECT_EQ(platform::copyFileIntoPlace(source, target, ".kestrel-"), "");
	EXPECT_EQ(platform::copyFileToFreshName(source, target + ".2", ".kestrel-"), "");
	std::string error;
	EXPECT_EQ(platform::readRegularFile(target, 100, error), "long way down") << error;
	EXPECT_EQ(platform::sha256HexOfFile(target + ".2"), platform::sha256Hex("long way down"));
	EXPECT_TRUE(platform::fileState(target));
	EXPECT_FALSE(platform::createUniqueFile(utf8(folder), "x", error).empty()) << error;
}

TEST(WindowsFiles, ReservedDeviceNamesAreNotRegularFiles)
{
	ScratchFolder scratch;
	for (const char *name : {"NUL", "con", "COM1", "lpt1.txt", "aux.mp4"}) {
		SCOPED_TRACE(name);
		const std::string path = utf8(scratch.root() / name);
		std::string error;
		EXPECT_FALSE(platform::readRegularFile(path, 100, error));
		EXPECT_FALSE(platform::fileState(path));
		EXPECT_FALSE(platform::sha256HexOfFile(path));
	}
}

HANDLE openForReading(const std::string &path)
{
	return CreateFileW(pathFromUtf8(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
			   0, nullptr);
}

TEST(WindowsFiles, ReplacingAFileAnotherProgramHoldsOpen)
{
	ScratchFolder scratch;
	const std::string source = utf8(scratch / "new.json");
	const std::string target = utf8(scratch / "scene.json");
	writeFile(pathFromUtf8(source), "new");
	writeFile(pathFromUtf8(target), "old");

	// Held for a moment (a sync client uploading it): the replace waits for it.
	HANDLE brief = openForReading(target);
	ASSERT_NE(brief, INVALID_HANDLE_VALUE);
	std::thread closer([brief] {
		std::this_thread::sleep_for(300ms);
		CloseHandle(brief);
	});
	EXPECT_EQ(platform::copyFileIntoPlace(source, target, ".kestrel-"), "");
	closer.join();
	EXPECT_EQ(readFile(target), "new");

	// Held for good: the replace fails with the system's reason, the target keeps its bytes
	// and no half copy is left beside it.
	writeFile(pathFromUtf8(source), "newer");
	HANDLE held = openForReading(target);
	ASSERT_NE(held, INVALID_HANDLE_VALUE);
	EXPECT_NE(platform::copyFileIntoPlace(source, target, ".kestrel-"), "");
	EXPECT_NE(platform::copyFileToFreshName(source, target, ".kestrel-"), "");
	CloseHandle(held);
	EXPECT_EQ(readFile(target), "new");
	int files = 0;
	for ([[maybe_unused]] const auto &entry : std::filesystem::directory_iterator(scratch.root()))
		++files;
	EXPECT_EQ(files, 2);
}

TEST(WindowsFiles, RunLockIsHeldUntilReleasedAcrossHandles)
{
	ScratchFolder scratch;
	const std::string path = utf8(scratch / "ロック.lock");
	std::string error;
	bool busy = false;
	auto first = platform::lockFile(path, 0ms, error, busy);
	ASSERT_TRUE(first) << error;
	EXPECT_FALSE(platform::lockFile(path, 120ms, error, busy));
	EXPECT_TRUE(busy);
	EXPECT_EQ(error, "held by another run");

	// Released while the second one waits: it gets the lock.
	std::thread release([&] {
		std::this_thread::sleep_for(100ms);
		first.reset();
	});
	auto second = platform::lockFile(path, 5s, error, busy);
	release.join();
	EXPECT_TRUE(second) << error;
	EXPECT_FALSE(busy);
}

TEST(WindowsLoopback, ListenerAcceptsAndTalksOverWinsock)
{
	auto listener = platform::LoopbackSocket::listen(0);
	ASSERT_TRUE(listener.valid());
	const uint16_t port = listener.port();
	ASSERT_NE(port, 0);
	// The port is this listener's alone.
	EXPECT_FALSE(platform::LoopbackSocket::listen(port).valid());
	EXPECT_FALSE(listener.accept(50ms).valid());

	auto client = platform::LoopbackSocket::connect(port);
	ASSERT_TRUE(client.valid());
	auto server = platform::LoopbackSocket::acceptAny({&listener}, 2s);
	ASSERT_TRUE(server.valid());
	ASSERT_TRUE(client.sendAll("GET /callback?code=x HTTP/1.1\r\n\r\n"));
	std::string received;
	while (received.size() < 33 &&
	       server.receive(received, 1024, 2s) == platform::LoopbackSocket::Received::Data) {
	}
	EXPECT_EQ(received, "GET /callback?code=x HTTP/1.1\r\n\r\n");
	std::string none;
	EXPECT_EQ(server.receive(none, 10, 50ms), platform::LoopbackSocket::Received::TimedOut);
	client = {};
	EXPECT_EQ(server.receive(none, 10, 2s), platform::LoopbackSocket::Received::Closed);

	// Nobody listens once the listener is gone.
	listener = {};
	EXPECT_FALSE(platform::LoopbackSocket::connect(port).valid());
}

TEST(WindowsCrypto, Sha256AndBase64ThroughCryptoApi)
{
	EXPECT_EQ(platform::sha256Hex(""),
		  "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
	EXPECT_EQ(platform::sha256Hex("abc"),
		  "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
	const std::string digest = platform::sha256Digest("abc");
	ASSERT_EQ(digest.size(), 32u);
	EXPECT_EQ(static_cast<unsigned char>(digest[0]), 0xba);
	EXPECT_EQ(static_cast<unsigned char>(digest[31]), 0xad);

	const std::pair<const char *, const char *> vectors[] = {
	    {"", ""},        {"f", "Zg=="},        {"fo", "Zm8="},
	    {"foo", "Zm9v"}, {"foob", "Zm9vYg=="}, {"foobar", "Zm9vYmFy"}};
	for (const auto &[plain, encoded] : vectors)
		EXPECT_EQ(platform::base64Encode(plain), encoded) << plain;
	// Long enough that CryptBinaryToStringA would break lines unless told not to.
	const std::string encoded = platform::base64Encode(std::string(200, '\xff'));
	EXPECT_EQ(encoded.find_first_of("\r\n"), std::string::npos);
	EXPECT_EQ(encoded.size(), 268u);
}

TEST(WindowsSecrets, ProtectedFilesHoldSecretsForThisUser)
{
	ScratchFolder scratch;
	auto store = platform::systemSecretStore(utf8(scratch / "secretos"));
	std::string error;
	ASSERT_TRUE(store->reachable(error)) << error;
	ASSERT_TRUE(store->store("kestrel-token", "refresh ✓", error)) << error;
	EXPECT_EQ(store->load("kestrel-token", error), "refresh ✓");
	for (const auto &entry : std::filesystem::recursive_directory_iterator(scratch.root())) {
		if (entry.is_regular_file()) {
			EXPECT_EQ(readFile(entry.path()).find("refresh"), std::string::npos);
		}
	}
	EXPECT_TRUE(store->erase("kestrel-token", error));
	EXPECT_EQ(store->load("kestrel-token", error), std::nullopt);
}

TEST(WindowsRestartScript, BatchFileEndsAndStartsObsWhateverTheFolderHolds)
{
	const std::string script =
	    platform::obsRestartScript("C:\\Program Files\\obs-studio\\bin\\64bit\\obs64.exe",
				       "C:\\Program Files\\obs-studio\\bin\\64bit", 42);
	EXPECT_EQ(script, "@echo off\r\n"
			  "chcp 65001 >nul\r\n"
			  "timeout /t 1 >nul\r\n"
			  "taskkill /f /im obs64.exe >nul 2>&1\r\n"
			  "start \"\" /d \"C:\\Program Files\\obs-studio\\bin\\64bit\" "
			  "\"C:\\Program Files\\obs-studio\\bin\\64bit\\obs64.exe\"\r\n"
			  "del \"%~f0\"\r\n");

	// cmd.exe reads "%" as the start of a variable even inside quotes.
	const std::string odd = platform::obsRestartScript("D:\\100% Nuevo\\obs64.exe", "D:\\100% Nuevo", 42);
	EXPECT_NE(odd.find("start \"\" /d \"D:\\100%% Nuevo\" \"D:\\100%% Nuevo\\obs64.exe\""),
		  std::string::npos)
	    << odd;

	ScratchFolder scratch;
	test::RecordingLauncher launcher;
	const std::string temp = utf8(scratch / "Temp ñ");
	std::filesystem::create_directories(pathFromUtf8(temp));
	ASSERT_TRUE(platform::restartObsLater("C:\\obs\\obs64.exe", "C:\\obs", temp));
	const std::string batch = temp + "\\wfld_restart.bat";
	EXPECT_EQ(readFile(pathFromUtf8(batch)),
		  platform::obsRestartScript("C:\\obs\\obs64.exe", "C:\\obs", 0));
	ASSERT_EQ(launcher.started.size(), 1u);
	EXPECT_EQ(launcher.started[0].program, "cmd.exe");
	EXPECT_EQ(launcher.started[0].arguments, (std::vector<std::string>{"/c", batch}));
}

} // namespace
} // namespace kestrel
