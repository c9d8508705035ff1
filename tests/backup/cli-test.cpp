#include "backup/manifest.h"

#include "fake-obs-config.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace kestrel {
namespace {

namespace fs = std::filesystem;
using test::FakeObsConfig;
using test::readFile;
using test::writeFile;

std::string quoted(const std::string &text)
{
	std::string out = "'";
	for (char c : text)
		out += c == '\'' ? std::string("'\\''") : std::string(1, c);
	return out + "'";
}

struct CliResult {
	int status;
	std::string out;
	std::string err;
};

// Runs the built kestrel-backup program with `home` as its HOME, no terminal attached and no
// desktop keyring to reach.
CliResult runCli(const fs::path &scratch, const fs::path &home, const std::vector<std::string> &args)
{
	std::string command = "env -u XDG_CONFIG_HOME -u DBUS_SESSION_BUS_ADDRESS -u XDG_RUNTIME_DIR HOME=" +
			      quoted(home.string()) + " " + quoted(KESTREL_BACKUP_CLI);
	for (const auto &arg : args)
		command += " " + quoted(arg);
	command += " > " + quoted((scratch / "cli.out").string()) + " 2> " +
		   quoted((scratch / "cli.err").string()) + " < /dev/null";
	const int raw = std::system(command.c_str());
	return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, readFile(scratch / "cli.out"),
		readFile(scratch / "cli.err")};
}

bool contains(const std::string &text, const std::string &part)
{
	return text.find(part) != std::string::npos;
}

class CommandLine : public ::testing::Test {
protected:
	FakeObsConfig obs;
	fs::path folder = obs.scratch / "Sync";

	CliResult cli(std::vector<std::string> args, const fs::path &home)
	{
		return runCli(obs.scratch.root(), home, args);
	}
};

TEST_F(CommandLine, HelpAndUsageMistakes)
{
	const CliResult help = cli({"--help"}, obs.home);
	EXPECT_EQ(help.status, 0);
	EXPECT_TRUE(contains(help.out, "Usage: kestrel-backup COMMAND --folder DIR"));
	EXPECT_TRUE(contains(help.out, "--force"));
	EXPECT_TRUE(contains(help.out, "--dry-run"));
	EXPECT_TRUE(contains(help.out, "--outside-home"));

	const CliResult none = cli({}, obs.home);
	EXPECT_EQ(none.status, 2);
	EXPECT_TRUE(contains(none.err, "no command given")) << none.err;
	EXPECT_EQ(cli({"backup"}, obs.home).status, 2);
	const CliResult unknown = cli({"backup", "--folder", "x", "--colour"}, obs.home);
	EXPECT_EQ(unknown.status, 2);
	EXPECT_TRUE(contains(unknown.err, "unknown argument: --colour"));
	EXPECT_EQ(cli({"show", "--folder"}, obs.home).status, 2);
}

TEST_F(CommandLine, BackupShowAndRestoreToAnotherHome)
{
	obs.addRealisticSetup();
	const CliResult backup = cli({"backup", "--folder", folder.string(), "--obs-config",
				      obs.config.string(), "--plugin", obs.pluginLibrary.string()},
				     obs.home);
	EXPECT_EQ(backup.status, 4) << "old.json cannot be stored: partial";
	EXPECT_TRUE(contains(backup.err, "partial: 1 of 11 file(s) skipped:\n  " +
					     (obs.scenes / "old.json").string() + ": Copy failed ("))
	    << backup.err;
	EXPECT_TRUE(contains(backup.out, "Found 4 scene(s), 4 profile file(s), 3 media file(s).\n"))
	    << backup.out;
	EXPECT_TRUE(contains(backup.out, "Backup complete. 10 files uploaded, 1 skipped.\n"));
	EXPECT_TRUE(fs::exists(folder / "obs-cloud-backup/plugin/kestrel.so"));

	fs::remove(obs.scenes / "old.json");
	const CliResult clean = cli(
	    {"backup", "--folder", folder.string(), "--obs-config", obs.config.string(), "--json"}, obs.home);
	EXPECT_EQ(clean.status, 0) << clean.err;
	EXPECT_TRUE(contains(clean.out, "\"success\": true")) << clean.out;
	EXPECT_TRUE(contains(clean.out, "\"unchanged\": 10")) << clean.out;
	EXPECT_TRUE(contains(clean.err, "Backup complete. 10 files: 0 copied, 10 unchanged, 0 skipped."))
	    << "log lines leave stdout to the JSON";
	EXPECT_FALSE(contains(clean.err, "Uploading: ")) << clean.err;

	const CliResult table = cli({"show", "--folder", (folder / "obs-cloud-backup").string()}, obs.home);
	EXPECT_EQ(table.status, 0);
	EXPECT_TRUE(contains(table.out, "stored by Local Folder"));
	EXPECT_TRUE(contains(table.out, "media        2.9 KB  " + obs.home.string() + "/Videos/intro.mp4\n"))
	    << table.out;
	EXPECT_TRUE(contains(table.out, "\n10 file(s), "));
	const CliResult json = cli({"show", "--folder", folder.string(), "--json"}, obs.home);
	EXPECT_EQ(manifestFromJson(json.out).mediaFiles.size(), 3u);

	const fs::path bob = obs.scratch / "home/bob";
	const fs::path bobConfig = bob / ".config/obs-studio";
	writeFile(bobConfig / "global.ini",
		  "[Basic]\nSceneCollection=Untitled\nSceneCollectionFile=Untitled\n");
	const CliResult dryRun =
	    cli({"restore", "--folder", folder.string(), "--name", "My Show", "--dry-run", "--outside-home"},
		bob);
	EXPECT_EQ(dryRun.status, 0) << dryRun.err;
	for (const std::string &line :
	     {"scene    " + (bobConfig / "basic/scenes/My_Show.json").string() + "\n",
	      "profile  " + (bobConfig / "basic/profiles/Main/sub/recordEncoder.json").string() + "\n",
	      "media    " + (bob / "Videos/intro.mp4").string() + "\n",
	      std::string("\n10 file(s) to restore, 0 skipped\n")})
		EXPECT_TRUE(contains(dryRun.out, line)) << line << dryRun.out;
	EXPECT_FALSE(fs::exists(bob / "Videos")) << "a dry run writes nothing";
	EXPECT_FALSE(contains(readFile(bobConfig / "global.ini"), "My Show"));

	const CliResult restore =
	    cli({"restore", "--folder", folder.string(), "--name", "My Show", "--yes", "--force"}, bob);
	EXPECT_EQ(restore.status, 0) << restore.err;
	EXPECT_TRUE(contains(restore.out, "Restore complete. 10 files restored.\n"))
	    << "~/.fonts is a hidden folder\n"
	    << restore.out;
	EXPECT_EQ(readFile(bob / "Videos/intro.mp4"), std::string(3000, 'm'));
	EXPECT_TRUE(contains(readFile(bobConfig / "global.ini"), "SceneCollection=My Show\n"));
	EXPECT_TRUE(contains(readFile(bobConfig / "basic/profiles/Main/basic.ini"),
			     "FilePath=" + bob.string() + "/Videos"));
}

TEST_F(CommandLine, FailuresSayWhyAndExitNonZero)
{
	fs::create_directories(folder);
	const CliResult show = cli({"show", "--folder", folder.string()}, obs.home);
	EXPECT_EQ(show.status, 1);
	EXPECT_TRUE(contains(show.err, "No backup found on Local Folder: Not found in backup folder: "
				       "obs-cloud-backup/manifest.json"))
	    << show.err;
	EXPECT_EQ(cli({"show", "--folder", (obs.scratch / "nowhere").string()}, obs.home).status, 1);

	BackupManifest manifest;
	manifest.profiles = {{"basic.ini", "obs-cloud-backup/profiles/P/basic.ini",
			      (obs.profiles / "P/basic.ini").string(), 3}};
	writeFile(folder / "obs-cloud-backup/manifest.json", manifestToJson(manifest));
	const CliResult unconfirmed = cli({"restore", "--folder", folder.string(), "--force"}, obs.home);
	EXPECT_EQ(unconfirmed.status, 2);
	EXPECT_TRUE(contains(unconfirmed.err, "pass --yes"));
	const CliResult nothing = cli({"restore", "--folder", folder.string(), "--force", "--yes"}, obs.home);
	EXPECT_EQ(nothing.status, 1);
	EXPECT_TRUE(contains(nothing.err, "Nothing could be restored")) << nothing.err;
	EXPECT_TRUE(contains(nothing.out, "  Skipped (error): Not found in backup folder: "));
}

TEST_F(CommandLine, RestoreWaitsForOBSToClose)
{
	// A process named obs, as OBS Studio's is.
	const fs::path fakeObs = obs.scratch / "obs";
	fs::copy_file("/bin/sleep", fakeObs);
	const pid_t pid = fork();
	ASSERT_GE(pid, 0);
	if (pid == 0) {
		execl(fakeObs.c_str(), "obs", "30", static_cast<char *>(nullptr));
		_exit(127);
	}
	std::this_thread::sleep_for(std::chrono::milliseconds(100));
	const CliResult refused = cli({"restore", "--folder", folder.string(), "--yes"}, obs.home);
	kill(pid, SIGTERM);
	waitpid(pid, nullptr, 0);
	EXPECT_EQ(refused.status, 3);
	EXPECT_TRUE(contains(refused.err, "OBS is running")) << refused.err;
}

TEST_F(CommandLine, CloudSignInIsCheckedBeforeAnyRun)
{
	const fs::path settings = obs.config / "plugin_config/kestrel/cloud-backup.json";
	EXPECT_EQ(cli({"login", "--provider", "gdrive"}, obs.home).status, 2);
	// The secret may come from a file or standard input instead of the visible command line.
	EXPECT_EQ(cli({"login", "--provider", "gdrive", "--client-id", "id", "--client-secret", "s",
		       "--client-secret-file", "-"},
		      obs.home)
		      .status,
		  2);
	const CliResult noSecret = cli(
	    {"login", "--provider", "gdrive", "--client-id", "id", "--client-secret-file", "-"}, obs.home);
	EXPECT_EQ(noSecret.status, 1);
	EXPECT_TRUE(contains(noSecret.err, "cannot read the client secret from standard input"))
	    << noSecret.err;
	EXPECT_FALSE(fs::exists(settings)) << "nothing is signed in or saved";
	EXPECT_TRUE(contains(cli({"backup", "--provider", "dropbox"}, obs.home).err, "gdrive or onedrive"));
	EXPECT_EQ(cli({"backup", "--provider", "gdrive", "--folder", folder.string()}, obs.home).status, 2);

	const CliResult unsigned_ = cli({"backup", "--provider", "gdrive"}, obs.home);
	EXPECT_EQ(unsigned_.status, 1);
	EXPECT_TRUE(contains(unsigned_.err,
			     "not signed in to Google Drive; sign in first: kestrel-backup login "
			     "--provider gdrive"))
	    << unsigned_.err;
	EXPECT_TRUE(contains(cli({"logout"}, obs.home).out, "Not signed in."));

	// A saved sign-in, as login leaves it; a proxy nobody listens on stands for a network that is down.
	writeFile(
	    settings,
	    R"({"client_id":"id","provider":1,"tokens":"{\"access_token\":\"at\",\"refresh_token\":\"rt\"}"})");
	EXPECT_TRUE(
	    contains(cli({"show", "--provider", "gdrive"}, obs.home).err, "not signed in to Google Drive"));
	setenv("HTTPS_PROXY", "http://127.0.0.1:9", 1);
	const CliResult offline = cli({"show", "--provider", "onedrive"}, obs.home);
	unsetenv("HTTPS_PROXY");
	EXPECT_EQ(offline.status, 1);
	EXPECT_TRUE(contains(offline.err, "OneDrive: no answer from the service (is the network down?)"))
	    << offline.err;

	const CliResult signedOut = cli({"logout", "--provider", "onedrive"}, obs.home);
	EXPECT_EQ(signedOut.status, 0);
	EXPECT_TRUE(contains(signedOut.out, "Signed out of OneDrive.")) << signedOut.err;
	const std::string kept = readFile(settings);
	EXPECT_TRUE(contains(kept, R"(\"access_token\":\"\")")) << kept;
	EXPECT_TRUE(contains(kept, R"("client_id": "id")")) << kept;
}

} // namespace
} // namespace kestrel

namespace kestrel {
namespace {

TEST_F(CommandLine, HistoryFromRestoreIntoObsConfigAndDeclinedPrompt)
{
	const CliResult empty =
	    cli({"backup", "--folder", folder.string(), "--obs-config", obs.config.string()}, obs.home);
	EXPECT_EQ(empty.status, 1);
	EXPECT_TRUE(
	    contains(empty.err, "No OBS scene collections or profiles found in " + obs.config.string()))
	    << empty.err;
	EXPECT_FALSE(fs::exists(folder / "obs-cloud-backup/manifest.json"));

	const std::vector<std::string> backup = {"backup", "--folder", folder.string(), "--obs-config",
						 obs.config.string()};
	writeFile(obs.scenes / "Show.json", R"({"name": "Show", "version": 1})");
	ASSERT_EQ(cli(backup, obs.home).status, 0);
	const std::string firstDate =
	    manifestFromJson(readFile(folder / "obs-cloud-backup/manifest.json")).createdAt;
	writeFile(obs.scenes / "Show.json", R"({"name": "Show", "version": 2})");
	ASSERT_EQ(cli(backup, obs.home).status, 0);

	const CliResult history = cli({"show", "--folder", folder.string(), "--history"}, obs.home);
	EXPECT_EQ(history.status, 0);
	EXPECT_TRUE(contains(history.out, "DATE                     FILES       SIZE\n")) << history.out;
	EXPECT_TRUE(contains(history.out, "         1       30 B  (newest)\n")) << history.out;
	EXPECT_TRUE(contains(history.out, firstDate + "         1       30 B")) << history.out;

	// Restored into the OBS configuration named on the command line, from the older backup.
	const fs::path elsewhere = obs.scratch / "portable-obs";
	const CliResult restore = cli({"restore", "--folder", folder.string(), "--obs-config",
				       elsewhere.string(), "--from", firstDate, "--yes", "--force"},
				      obs.home);
	EXPECT_EQ(restore.status, 0) << restore.err;
	// Both backups may share one second; --from picks the newest of it, so accept either.
	const std::string restored = readFile(elsewhere / "basic/scenes/Show.json");
	EXPECT_TRUE(contains(restored, "\"version\": ")) << restored;
	EXPECT_EQ(readFile(obs.scenes / "Show.json"), R"({"name": "Show", "version": 2})");
	const CliResult unknown =
	    cli({"restore", "--folder", folder.string(), "--from", "1999", "--yes", "--force"}, obs.home);
	EXPECT_EQ(unknown.status, 1);
	EXPECT_TRUE(contains(unknown.err, "no backup of 1999 in " + folder.string())) << unknown.err;

	// "no" at the prompt, asked on a terminal.
	const std::string command =
	    "echo n | env HOME=" + quoted(obs.home.string()) + " script -qec " +
	    quoted(quoted(KESTREL_BACKUP_CLI) + " restore --force --folder " + quoted(folder.string())) +
	    " /dev/null > /dev/null 2>&1";
	const int raw = std::system(command.c_str());
	EXPECT_EQ(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, 5);
}

TEST_F(CommandLine, FullDestinationIsPartialAndKeepsTheBackupWhole)
{
	if (std::system("unshare -Urm true > /dev/null 2>&1") != 0)
		GTEST_SKIP() << "no user namespaces here to mount a small file system in";
	writeFile(obs.scenes / "Show.json", R"({"name": "Show", "sources": [{"settings": {"local_file": ")" +
						obs.home.string() + R"(/big.mp4"}}]})");
	writeFile(obs.profiles / "Main/basic.ini", "[General]\n");
	fs::create_directories(folder);
	const fs::path out = obs.scratch.root();
	const std::string cliPath = quoted(KESTREL_BACKUP_CLI);
	const std::string backup = cliPath + " backup --folder " + quoted(folder.string()) +
				   " --obs-config " + quoted(obs.config.string());
	// The backup folder is a 1 MB file system that only this shell sees.
	const std::string script =
	    "mount -t tmpfs -o size=1m tmpfs " + quoted(folder.string()) + " || exit 99\n" + backup + " > " +
	    quoted((out / "first.txt").string()) + " 2>&1; echo $? > " +
	    quoted((out / "first.status").string()) + "\nhead -c 3000000 /dev/zero > " +
	    quoted((obs.home / "big.mp4").string()) + "\n" + backup + " > " +
	    quoted((out / "second.txt").string()) + " 2>&1; echo $? > " +
	    quoted((out / "second.status").string()) + "\n" + cliPath + " restore --yes --force --folder " +
	    quoted(folder.string()) + " --obs-config " + quoted((out / "restored").string()) + " > " +
	    quoted((out / "restore.txt").string()) + " 2>&1\n";
	writeFile(out / "full.sh", script);
	const std::string command = "env -u XDG_CONFIG_HOME HOME=" + quoted(obs.home.string()) +
				    " unshare -Urm sh " + quoted((out / "full.sh").string());
	const int raw = std::system(command.c_str());
	if (WIFEXITED(raw) && WEXITSTATUS(raw) == 99)
		GTEST_SKIP() << "cannot mount a tmpfs in a user namespace here";
	EXPECT_EQ(readFile(out / "first.status"), "0\n") << readFile(out / "first.txt");
	EXPECT_EQ(readFile(out / "second.status"), "4\n") << readFile(out / "second.txt");
	const std::string second = readFile(out / "second.txt");
	EXPECT_TRUE(contains(second, "partial: 1 of 3 file(s) skipped:\n  " + obs.home.string() +
					 "/big.mp4: Copy failed"))
	    << second;
	EXPECT_TRUE(contains(second, "No space left on device")) << second;
	EXPECT_EQ(readFile(out / "restored/basic/scenes/Show.json"), readFile(obs.scenes / "Show.json"))
	    << readFile(out / "restore.txt");
	EXPECT_TRUE(contains(readFile(out / "restore.txt"), "Restore complete. 2 files restored."));
}

} // namespace
} // namespace kestrel

namespace kestrel {
namespace {

// What a hostile sync peer or scene collection can put before the command line.
TEST_F(CommandLine, HostileBackupFolderFailsOrSkipsWithItsReason)
{
	const fs::path stored = folder / "obs-cloud-backup";
	BackupManifest manifest;
	manifest.profiles = {{"basic.ini", "obs-cloud-backup/profiles/P/basic.ini",
			      (obs.profiles / "P/basic.ini").string(), 3}};
	writeFile(stored / "profiles/P/basic.ini", "[x]");
	const std::string whole = manifestToJson(manifest);
	for (const std::string &damage : {whole.substr(0, whole.size() / 2), whole + "\xff"}) {
		writeFile(stored / "manifest.json", damage);
		const CliResult restore =
		    cli({"restore", "--folder", folder.string(), "--yes", "--force"}, obs.home);
		EXPECT_EQ(restore.status, 1);
		EXPECT_TRUE(contains(restore.out,
				     "Cannot read the backup on Local Folder: the manifest is damaged: "
				     "not valid JSON: parse error at line "))
		    << restore.out;
		EXPECT_TRUE(contains(restore.err, "no usable backup in " + folder.string())) << restore.err;
		EXPECT_FALSE(fs::exists(obs.profiles / "P/basic.ini"));
	}

	// Escapes a terminal would obey, in the date, a path, a direction override, and sizes whose
	// sum overflows.
	const std::string scene = R"({"name": "Show"})";
	writeFile(stored / "scenes/Show.json", scene);
	manifest.createdAt = "2026\x1b]0;pwned\x07\x1b[2J";
	manifest.obsVersion = "29\xc2\x9b";
	manifest.sceneCollections = {{"Show.json", "obs-cloud-backup/scenes/Show.json",
				      (obs.scenes / "Show.json").string(),
				      static_cast<int64_t>(scene.size())}};
	manifest.profiles.push_back(manifest.profiles[0]);
	for (auto &profile : manifest.profiles)
		profile.size = INT64_MAX;
	manifest.mediaFiles = {{"x", "obs-cloud-backup/media/1", obs.home.string() + "/\x1b[31mred.mp4", 1},
			       {"y", "obs-cloud-backup/media/2", "/srv/\u202eevil.mp4", 1}};
	writeFile(stored / "manifest.json", manifestToJson(manifest));
	const auto raw = [](const std::string &text) {
		return contains(text, "\x1b") || contains(text, "\xc2\x9b") || contains(text, "\u202e");
	};
	const CliResult table = cli({"show", "--folder", folder.string()}, obs.home);
	EXPECT_EQ(table.status, 0);
	EXPECT_FALSE(raw(table.out)) << table.out;
	EXPECT_TRUE(contains(table.out, "Backup of 2026\\x1B]0;pwned\\x07\\x1B[2J, OBS 29\\u{009B}"))
	    << table.out;
	EXPECT_TRUE(contains(table.out, "/srv/\\u{202E}evil.mp4\n"));
	EXPECT_TRUE(contains(table.out, "5 file(s), 8388608.0 TB")) << table.out;
	EXPECT_FALSE(raw(cli({"show", "--folder", folder.string(), "--json"}, obs.home).out));
	const CliResult plan = cli({"restore", "--folder", folder.string(), "--dry-run"}, obs.home);
	EXPECT_TRUE(contains(plan.out, "skip     (control characters in the path): " + obs.home.string() +
					   "/\\x1B[31mred.mp4\n"))
	    << plan.out;
	EXPECT_FALSE(raw(plan.out));
	const CliResult restore = cli({"restore", "--folder", folder.string(), "--yes", "--force"}, obs.home);
	EXPECT_EQ(restore.status, 4);
	EXPECT_FALSE(raw(restore.out + restore.err)) << restore.err;
	const std::string prompt =
	    "echo n | env HOME=" + quoted(obs.home.string()) + " script -qec " +
	    quoted(quoted(KESTREL_BACKUP_CLI) + " restore --force --folder " + quoted(folder.string())) +
	    " /dev/null > " + quoted((obs.scratch / "prompt.txt").string()) + " 2>&1";
	EXPECT_EQ(std::system(prompt.c_str()) == -1, false);
	const std::string asked = readFile(obs.scratch / "prompt.txt");
	EXPECT_TRUE(contains(asked, "from the backup of 2026\\x1B]0;pwned")) << asked;
	EXPECT_FALSE(raw(asked));

	writeFile(obs.scenes / "Show.json", "{}");
	const std::string missing = (obs.scratch / "missing.so").string();
	const CliResult backup = cli(
	    {"backup", "--folder", folder.string(), "--obs-config", obs.config.string(), "--plugin", missing},
	    obs.home);
	EXPECT_EQ(backup.status, 4) << "a plug-in that cannot be stored makes the run partial";
	EXPECT_TRUE(contains(backup.err, "partial: 1 of 2 file(s) skipped:\n  " + missing + ": Copy failed"))
	    << backup.err;
}

} // namespace
} // namespace kestrel
