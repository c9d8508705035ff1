#include "dialog-fixture.h"

#include "backup/manifest.h"
#include "backup/restore-plan.h"
#include "common/ui-text.h"
#include "platform/recording-launcher.h"
#include "support/obs-log-capture.h"
#include "ui/auto-backup-status.h"
#include "ui/skipped-line-text.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QPointer>
#include <QRegularExpression>
#include <QSpinBox>
#include <QThread>

#include <set>

namespace kestrel {
namespace {

namespace fs = std::filesystem;
using test::DialogTest;
using test::MessageBoxAnswerer;

const QString kLocalFolder = QStringLiteral("Local Folder");

TEST_F(DialogTest, FreshStoreOpensInSpanishAndEveryStartChecksItsPrecondition)
{
	MessageBoxAnswerer boxes;
	auto dialog = openDialog();
	EXPECT_EQ(currentLanguage().load(), 1);
	EXPECT_EQ(dialog->windowTitle(), "Copia en la nube de OBS");
	EXPECT_GE(dialog->minimumWidth(), 620);
	auto *tabs = find<QTabWidget>(*dialog, "tabs");
	EXPECT_EQ(tabs->currentIndex(), 0);
	auto *status = find<QLabel>(*dialog, "statusLabel");
	EXPECT_EQ(status->text(), "Sin conectar");
	EXPECT_EQ(status->styleSheet(), "color: gray;");
	EXPECT_FALSE(find<QPushButton>(*dialog, "restoreButton")->isEnabled());
	EXPECT_FALSE(find<QPushButton>(*dialog, "connectButton")->isVisibleTo(dialog.get()));

	tabs->setCurrentIndex(1);
	click(*dialog, "startBackupButton");
	ASSERT_EQ(boxes.count(), 1u);
	EXPECT_EQ(boxes.last().icon, QMessageBox::Warning);
	EXPECT_EQ(boxes.last().title, uiText(TextId::NotConnectedTitle));
	EXPECT_EQ(boxes.last().text, uiText(TextId::ConnectFirst));
	EXPECT_EQ(tabs->currentIndex(), 0);
	EXPECT_EQ(dialog->currentWorker(), nullptr);

	// A refresh without a folder fails with the provider's name; Restore then has nothing.
	click(*dialog, "refreshButton");
	ASSERT_TRUE(waitForRun(*dialog));
	ASSERT_EQ(boxes.count(), 2u);
	EXPECT_EQ(boxes.last().title, uiText(TextId::NoBackupFoundTitle));
	EXPECT_TRUE(boxes.last().text.startsWith(uiText(TextId::NoBackupFound).arg(kLocalFolder) + "\n\n"));
	EXPECT_TRUE(boxes.last().text.endsWith(uiText(TextId::CheckBackupFolder)));
	click(*dialog, "restoreButton");
	ASSERT_EQ(boxes.count(), 3u);
	EXPECT_EQ(boxes.last().icon, QMessageBox::Information);
	EXPECT_EQ(boxes.last().title, "Sin copia");
	EXPECT_EQ(boxes.last().text, uiText(TextId::NoBackupLoaded));
}

TEST_F(DialogTest, SavingTheFolderWritesTheSettingsAndShowsTheConnection)
{
	MessageBoxAnswerer boxes;
	auto dialog = openDialog();
	auto *status = find<QLabel>(*dialog, "statusLabel");

	test::writeFile(config.scratch / "a-file", "not a folder");
	saveFolder(*dialog, config.scratch / "a-file/backups");
	ASSERT_EQ(boxes.count(), 1u);
	EXPECT_EQ(boxes.last().title, uiText(TextId::SettingsSavedTitle));
	EXPECT_EQ(status->styleSheet(), "color: gray;");
	EXPECT_EQ(status->text(), uiText(TextId::NotConnected));

	saveFolder(*dialog, config.scratch / "OneDrive");
	ASSERT_EQ(boxes.count(), 2u);
	EXPECT_EQ(boxes.last().text, uiText(TextId::SettingsSaved));
	EXPECT_EQ(status->text(), uiText(TextId::ConnectedTo).arg(kLocalFolder));
	EXPECT_EQ(status->styleSheet(), "color: green; font-weight: bold;");
	EXPECT_NE(
	    test::readFile(settingsFile).find("\"local_path\": \"" + (config.scratch / "OneDrive").string()),
	    std::string::npos);
	EXPECT_NE(test::readFile(settingsFile).find("\"provider\": 2"), std::string::npos);
	EXPECT_EQ(find<QLineEdit>(*openDialog(), "folderEdit")->text().toStdString(),
		  (config.scratch / "OneDrive").string());

	// A settings file that cannot be written is reported with its reason, never as saved.
	fs::remove(settingsFile);
	fs::create_directories(settingsFile);
	saveFolder(*dialog, config.scratch / "OneDrive");
	ASSERT_EQ(boxes.count(), 3u);
	EXPECT_EQ(boxes.last().icon, QMessageBox::Warning);
	EXPECT_TRUE(boxes.last().text.contains("cloud-backup.json")) << boxes.last().text.toStdString();
	EXPECT_NE(boxes.last().title, uiText(TextId::SettingsSavedTitle));
}

TEST_F(DialogTest, BackupRefreshAndRestoreThroughTheWorker)
{
	test::RecordingLauncher launcher;
	MessageBoxAnswerer boxes({QMessageBox::Ok, QMessageBox::Ok, QMessageBox::Yes, QMessageBox::Yes});
	auto dialog = openDialog();
	saveFolder(*dialog, config.backupFolder);

	click(*dialog, "startBackupButton");
	for (const char *control : {"startBackupButton", "refreshButton", "restoreButton", "saveButton"})
		EXPECT_FALSE(find<QPushButton>(*dialog, control)->isEnabled()) << control;
	EXPECT_FALSE(find<QComboBox>(*dialog, "languageList")->isEnabled());
	EXPECT_FALSE(find<QComboBox>(*dialog, "switchKeyList")->isEnabled());
	EXPECT_FALSE(find<QComboBox>(*dialog, "dumpKeyList")->isEnabled());
	ASSERT_TRUE(waitForRun(*dialog));
	ASSERT_EQ(boxes.count(), 2u);
	EXPECT_EQ(boxes.last().title, uiText(TextId::BackupCompleteTitle));
	EXPECT_EQ(find<QProgressBar>(*dialog, "backupProgress")->value(), 100);
	const QString backupLog = find<QTextEdit>(*dialog, "backupLog")->toPlainText();
	EXPECT_EQ(backupLog, find<QTextEdit>(*dialog, "restoreLog")->toPlainText());
	const QStringList lines = backupLog.split('\n');
	EXPECT_GT(lines.size(), 12);
	for (const QString &line : lines)
		EXPECT_TRUE(QRegularExpression("^\\[\\d\\d:\\d\\d:\\d\\d\\] .").match(line).hasMatch())
		    << line.toStdString();
	EXPECT_TRUE(fs::exists(config.backupFolder / "manifest.json"));

	click(*dialog, "refreshButton");
	ASSERT_TRUE(waitForRun(*dialog));
	EXPECT_EQ(boxes.count(), 2u) << "a loaded manifest shows no box";
	auto *tree = find<QTreeWidget>(*dialog, "manifestTree");
	ASSERT_EQ(tree->topLevelItemCount(), 3);
	EXPECT_EQ(tree->topLevelItem(1)->text(0),
		  uiText(TextId::Profiles) + " (" + uiText(TextId::FileCount).arg(4) + ")");
	EXPECT_TRUE(find<QPushButton>(*dialog, "restoreButton")->isEnabled());

	fs::remove(config.scenes / "Second.json");
	find<QLineEdit>(*dialog, "collectionNameEdit")->setText("  Restored Show ");
	click(*dialog, "restoreButton");
	ASSERT_TRUE(waitForRun(*dialog));
	ASSERT_EQ(boxes.count(), 4u);
	EXPECT_EQ(boxes.boxes()[2].title, uiText(TextId::RestoreBackupTitle));
	EXPECT_EQ(boxes.boxes()[2].buttons, QMessageBox::Yes | QMessageBox::No);
	EXPECT_EQ(boxes.last().title, uiText(TextId::RestoreCompleteTitle));
	EXPECT_EQ(boxes.last().defaultButton, QMessageBox::Yes);
	EXPECT_TRUE(fs::exists(config.scenes / "Second.json"));
	EXPECT_TRUE(fs::exists(config.scenes / "Restored_Show.json"));
	EXPECT_EQ(find<QProgressBar>(*dialog, "restoreProgress")->value(), 100);
	ASSERT_EQ(launcher.started.size(), 1u) << "Yes restarts OBS";
	EXPECT_EQ(launcher.started[0].program, "/bin/sh");
	const std::string script = test::readFile(launcher.started[0].arguments.at(0));
	EXPECT_NE(script.find("kill -KILL " + std::to_string(getpid())), std::string::npos);
	EXPECT_NE(script.find(QCoreApplication::applicationFilePath().toStdString()), std::string::npos);
	fs::remove(launcher.started[0].arguments.at(0));
}

TEST_F(DialogTest, RefreshShowsGroupsSizesAndTheCollectionName)
{
	BackupManifest manifest;
	manifest.sceneCollections = {
	    {"My_Scenes.JSON", "obs-cloud-backup/scenes/My_Scenes.JSON", "/x", 1023}};
	manifest.profiles = {{"basic.ini", "obs-cloud-backup/profiles/Main/basic.ini", "/y", 1048575},
			     {"big.ini", "obs-cloud-backup/profiles/Main/big.ini", "/z", -1}};
	manifest.mediaFiles = {{"intro.mp4", "obs-cloud-backup/media/intro.mp4", "/w", 1048576}};
	test::writeFile(config.backupFolder / "manifest.json", manifestToJson(manifest));
	MessageBoxAnswerer boxes;
	auto dialog = openDialog();
	saveFolder(*dialog, config.backupFolder.parent_path());

	click(*dialog, "refreshButton");
	ASSERT_TRUE(waitForRun(*dialog));
	auto *tree = find<QTreeWidget>(*dialog, "manifestTree");
	ASSERT_EQ(tree->topLevelItemCount(), 3);
	const auto row = [&](int group, int child, int column) {
		return tree->topLevelItem(group)->child(child)->text(column);
	};
	EXPECT_EQ(tree->topLevelItem(0)->text(0),
		  uiText(TextId::SceneCollections) + " (" + uiText(TextId::FileCount).arg(1) + ")");
	EXPECT_TRUE(tree->topLevelItem(0)->isExpanded());
	EXPECT_EQ(row(0, 0, 0), "My_Scenes.JSON");
	EXPECT_EQ(row(0, 0, 1), uiText(TextId::SceneCollections));
	EXPECT_EQ(row(0, 0, 2), "1023 B");
	EXPECT_EQ(row(1, 0, 2), "1023 KB");
	EXPECT_EQ(row(1, 1, 2), "?") << "size unknown";
	EXPECT_EQ(row(2, 0, 2), "1 MB");
	EXPECT_EQ(find<QLineEdit>(*dialog, "collectionNameEdit")->text(), "My Scenes");
	EXPECT_EQ(boxes.count(), 1u) << "only the settings box";

	const auto progressOf = [&](int pct, int current, int total) {
		QMetaObject::invokeMethod(dialog.get(), "onProgress", Q_ARG(QString, "f"), Q_ARG(int, pct),
					  Q_ARG(int, current), Q_ARG(int, total));
		EXPECT_EQ(find<QProgressBar>(*dialog, "backupProgress")->value(),
			  find<QProgressBar>(*dialog, "restoreProgress")->value());
		return find<QProgressBar>(*dialog, "restoreProgress")->value();
	};
	EXPECT_EQ(progressOf(50, 3, 4), 62);
	EXPECT_EQ(progressOf(40, 0, 0), 40);
}

TEST_F(DialogTest, RestorePageListsTheKeptBackupsAndRestoresThePickedOne)
{
	MessageBoxAnswerer boxes({QMessageBox::Ok, QMessageBox::Yes, QMessageBox::No});
	auto dialog = openDialog();
	saveFolder(*dialog, config.backupFolder);
	const auto version = [](int v) { return R"({"name": "Second", "v": )" + std::to_string(v) + "}"; };
	for (int v = 1; v <= 3; ++v) {
		test::writeFile(config.scenes / "Second.json", version(v));
		ASSERT_TRUE(config.manager()->runBackup(nullptr, [](const std::string &) {}).success);
	}

	click(*dialog, "refreshButton");
	ASSERT_TRUE(waitForRun(*dialog));
	auto *list = find<QComboBox>(*dialog, "backupList");
	ASSERT_EQ(list->count(), 3);
	EXPECT_EQ(list->currentIndex(), 0) << "the newest is chosen";
	for (int item = 0; item < 3; ++item)
		EXPECT_TRUE(list->itemText(item).contains(QStringLiteral(" \u2014 ") +
							  uiText(TextId::FileCount).arg(10) + ", "))
		    << list->itemText(item).toStdString();
	auto *tree = find<QTreeWidget>(*dialog, "manifestTree");
	ASSERT_EQ(tree->topLevelItemCount(), 3);

	// The oldest, picked in the list, is the one restored.
	list->setCurrentIndex(2);
	EXPECT_EQ(tree->topLevelItemCount(), 3);
	test::writeFile(config.scenes / "Second.json", version(9));
	click(*dialog, "restoreButton");
	ASSERT_TRUE(waitForRun(*dialog));
	ASSERT_EQ(boxes.count(), 3u);
	EXPECT_EQ(boxes.last().title, uiText(TextId::RestoreCompleteTitle));
	EXPECT_EQ(test::readFile(config.scenes / "Second.json"), version(1));
}

TEST_F(DialogTest, MediaFromOutsideTheHomeGoBackOnlyWhenTheUserSaysSo)
{
	const fs::path clip = config.scratch / "srv/clips/clip.mp4";
	test::writeFile(clip, "clip");
	test::writeFile(config.scenes / "Outside.json",
			R"({"name": "Outside", "sources": [{"settings": {"local_file": ")" + clip.string() +
			    R"("}}]})");
	MessageBoxAnswerer boxes({QMessageBox::Ok, QMessageBox::Yes, QMessageBox::Cancel, QMessageBox::Yes,
				  QMessageBox::No, QMessageBox::No, QMessageBox::Yes, QMessageBox::Yes,
				  QMessageBox::No});
	auto dialog = openDialog();
	saveFolder(*dialog, config.backupFolder);
	ASSERT_TRUE(config.manager()->runBackup(nullptr, [](const std::string &) {}).success);
	click(*dialog, "refreshButton");
	ASSERT_TRUE(waitForRun(*dialog));
	fs::remove(clip);

	// Cancel at the question: nothing runs.
	click(*dialog, "restoreButton");
	ASSERT_EQ(boxes.count(), 3u);
	const MessageBoxAnswerer::Box &question = boxes.last();
	EXPECT_EQ(question.title, uiText(TextId::OutsideMediaTitle));
	EXPECT_TRUE(question.text.startsWith(uiText(TextId::OutsideMediaQuestion).arg(1)))
	    << question.text.toStdString();
	EXPECT_TRUE(
	    question.text.contains(QString::fromStdString(clip.string() + "  \u2192  " + clip.string())))
	    << question.text.toStdString();
	EXPECT_EQ(question.buttons, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
	EXPECT_EQ(dialog->currentWorker(), nullptr);

	// Skipped: the log says why in the dialog's language.
	click(*dialog, "restoreButton");
	ASSERT_TRUE(waitForRun(*dialog));
	EXPECT_FALSE(fs::exists(clip));
	const QString skipped =
	    uiText(TextId::SkippedLine)
		.arg(uiText(TextId::OutsideHomeSkipped), QString::fromStdString(clip.string()));
	EXPECT_TRUE(find<QTextEdit>(*dialog, "restoreLog")->toPlainText().contains(skipped))
	    << find<QTextEdit>(*dialog, "restoreLog")->toPlainText().toStdString();

	// Put back where it was.
	click(*dialog, "restoreButton");
	ASSERT_TRUE(waitForRun(*dialog));
	ASSERT_EQ(boxes.count(), 9u);
	EXPECT_EQ(test::readFile(clip), "clip");
}

TEST(SkippedLineText, EveryReasonARestoreGivesReadsInTheDialogsLanguage)
{
	test::ScratchSettingsStore store;
	chooseLanguage(4);
	const std::string home = "/home/bob", config = home + "/.config/obs-studio";
	BackupManifest manifest;
	manifest.sceneCollections = {{"s", "obs-cloud-backup/../x", "/home/alice/s.json", 1},
				     {"s", "obs-cloud-backup/s", "/home/alice/..", 1}};
	manifest.profiles = {{"p", "obs-cloud-backup/p", "/home/alice/p.ini", 1}};
	for (const std::string path :
	     {"/srv/a\nb", "/srv/a", "/home/alice/../../x", "/home/alice/.ssh/k",
	      "/home/alice/.config/obs-studio/plugins/x.so", "/home/alice/.config/obs-studio/plugin_config/k",
	      "/home/alice/.config/obs-studio/global.ini", "/home/alice/v.mp4", "/home/alice/v.mp4"})
		manifest.mediaFiles.push_back({"m", "obs-cloud-backup/m", path, 1});
	std::set<std::string> reasons = {"error"};
	const auto collect = [&](const RestoreRules &rules) {
		for (const RestoreStep &step : restorePlan(manifest, rules))
			reasons.insert(step.refusal);
	};
	collect({home, obsPathsIn(config), "", false});
	manifest.mediaFiles = {{"m", "obs-cloud-backup/m", "relative/x", 1},
			       {"m", "obs-cloud-backup/m", "/srv/.hidden/x", 1},
			       {"m", "obs-cloud-backup/m", "/etc/x", 1}};
	collect({home, obsPathsIn(config), "", true});
	manifest.mediaFiles = {{"m", "obs-cloud-backup/m", "/home/alice/x", 1}};
	collect({"", {}, "", true});
	reasons.erase("");
	EXPECT_EQ(reasons.size(), 17u);
	// Those only a Windows restore gives.
	reasons.insert({"inside the application data folder", "inside a hidden or system folder",
			"an executable or script in a Startup folder"});
	for (const std::string &reason : reasons) {
		const QString line = skippedLineText(reason, "f");
		EXPECT_TRUE(line.startsWith(QStringLiteral("スキップ（"))) << line.toStdString();
		EXPECT_FALSE(line.contains(QString::fromStdString(reason))) << reason << " has no row";
	}
	currentLanguage().store(1); // as the other cases expect of a fresh store
}

TEST_F(DialogTest, AFailedRunShowsItsErrorAndTheNextRunGetsANewThreadAndWorker)
{
	MessageBoxAnswerer boxes;
	auto dialog = openDialog();
	saveFolder(*dialog, config.backupFolder);
	QPointer<BackupWorker> firstWorker;
	QPointer<QThread> firstThread;
	{
		// Another run (of another process) holds the backup folder.
		const auto held = config.manager()->provider().holdBackup(std::chrono::milliseconds(0));
		click(*dialog, "startBackupButton");
		firstWorker = dialog->currentWorker();
		firstThread = dialog->findChild<QThread *>();
		ASSERT_TRUE(waitForRun(*dialog));
	}
	ASSERT_EQ(boxes.count(), 2u);
	EXPECT_EQ(boxes.last().title, uiText(TextId::BackupFailedTitle));
	EXPECT_TRUE(boxes.last().text.startsWith("Another backup or restore is using "))
	    << boxes.last().text.toStdString();
	EXPECT_EQ(find<QProgressBar>(*dialog, "backupProgress")->value(), 0);
	EXPECT_TRUE(QTest::qWaitFor([&] { return firstWorker.isNull() && firstThread.isNull(); }, 5000))
	    << "the released worker and thread are freed";

	click(*dialog, "startBackupButton");
	EXPECT_NE(dialog->currentWorker(), nullptr);
	ASSERT_TRUE(waitForRun(*dialog));
	EXPECT_EQ(boxes.last().title, uiText(TextId::BackupCompleteTitle));
}

TEST_F(DialogTest, ClosingDuringARunWaitsForItsEnd)
{
	MessageBoxAnswerer boxes;
	auto dialog = openDialog();
	saveFolder(*dialog, config.backupFolder);
	click(*dialog, "startBackupButton");
	find<QTabWidget>(*dialog, "tabs")->setCurrentIndex(0);
	dialog->reject();
	EXPECT_TRUE(dialog->isVisible());
	EXPECT_EQ(find<QTabWidget>(*dialog, "tabs")->currentIndex(), 1) << "the run's log tells why";
	EXPECT_FALSE(find<QTextEdit>(*dialog, "backupLog")->toPlainText().isEmpty());
	ASSERT_TRUE(waitForRun(*dialog));
	EXPECT_FALSE(dialog->isVisible());
	EXPECT_EQ(dialog->result(), QDialog::Rejected);
	EXPECT_EQ(boxes.last().title, uiText(TextId::BackupCompleteTitle)) << "the result is still shown";

	// OBS going away destroys the dialog mid-run: the run finishes before anything it uses goes.
	fs::remove(config.backupFolder / "manifest.json");
	auto second = openDialog();
	click(*second, "startBackupButton");
	second.reset();
	EXPECT_TRUE(fs::exists(config.backupFolder / "manifest.json"));
}

TEST_F(DialogTest, LanguageChangeRebuildsThePagesAndKeepsTheManifest)
{
	toggleKey = 112; // F1
	MessageBoxAnswerer boxes({QMessageBox::Ok, QMessageBox::No});
	auto dialog = openDialog();
	auto *keys = find<QComboBox>(*dialog, "switchKeyList");
	EXPECT_EQ(keys->currentData().toInt(), 112);
	EXPECT_EQ(keys->count(), 57);
	saveFolder(*dialog, config.backupFolder);
	config.manager()->runBackup(nullptr, [](const std::string &) {});
	click(*dialog, "refreshButton");
	ASSERT_TRUE(waitForRun(*dialog));
	find<QTabWidget>(*dialog, "tabs")->setCurrentIndex(2);

	find<QComboBox>(*dialog, "languageList")->setCurrentIndex(2);
	EXPECT_EQ(currentLanguage().load(), 2);
	EXPECT_EQ(test::ScratchSettingsStore::open().value("language").toInt(), 2);
	EXPECT_EQ(dialog->windowTitle(), "Sauvegarde OBS dans le cloud");
	auto *tabs = find<QTabWidget>(*dialog, "tabs");
	EXPECT_EQ(tabs->tabText(0), "⚙ Réglages");
	EXPECT_EQ(tabs->currentIndex(), 2);
	EXPECT_EQ(find<QLabel>(*dialog, "statusLabel")->text(),
		  uiText(TextId::ConnectedTo).arg(kLocalFolder));
	auto *tree = find<QTreeWidget>(*dialog, "manifestTree");
	ASSERT_EQ(tree->topLevelItemCount(), 3);
	EXPECT_TRUE(tree->topLevelItem(0)->text(0).startsWith(uiText(TextId::SceneCollections)));
	EXPECT_EQ(find<QComboBox>(*dialog, "switchKeyList")->currentData().toInt(), 112);
	EXPECT_EQ(toggleKey, 112) << "building the pages never changes the key";
	keys = find<QComboBox>(*dialog, "switchKeyList");
	keys->setCurrentIndex(keys->findData(113));
	EXPECT_EQ(toggleKey, 113);
	auto *dumpKeys = find<QComboBox>(*dialog, "dumpKeyList");
	dumpKeys->setCurrentIndex(dumpKeys->findData(114));
	EXPECT_EQ(dumpKey, 114) << "the dump key has a list of its own";
	EXPECT_EQ(toggleKey, 113);

	click(*dialog, "restoreButton");
	EXPECT_EQ(boxes.last().title, uiText(TextId::RestoreBackupTitle))
	    << "the held manifest survives the rebuild";
	EXPECT_EQ(boxes.last().text,
		  "Cela remplacera vos scènes, profils et médias OBS actuels.\nContinuer ?");

	dialog.reset();
	auto reopened = openDialog();
	EXPECT_EQ(reopened->windowTitle(), "Sauvegarde OBS dans le cloud");
	EXPECT_EQ(find<QComboBox>(*reopened, "languageList")->currentIndex(), 2);
}

} // namespace
} // namespace kestrel

namespace kestrel::test {
namespace {

TEST_F(DialogTest, AutomaticBackupChoicesAreSavedAndTheLastOutcomeShows)
{
	MessageBoxAnswerer boxes;
	auto dialog = openDialog();
	auto *group = find<QGroupBox>(*dialog, "autoBackupGroup");
	EXPECT_EQ(group->title(), uiText(TextId::AutoBackupsGroup));
	for (const char *off : {"autoAfterStream", "autoAfterRecording", "autoOnExit", "autoDailyAtStart"})
		EXPECT_FALSE(find<QCheckBox>(*dialog, off)->isChecked()) << off << " starts off";
	auto *kept = find<QSpinBox>(*dialog, "autoKept");
	EXPECT_EQ(kept->value(), 5);
	EXPECT_EQ(kept->minimum(), 1);
	EXPECT_EQ(kept->maximum(), 50);

	find<QCheckBox>(*dialog, "autoAfterRecording")->setChecked(true);
	find<QCheckBox>(*dialog, "autoOnExit")->setChecked(true);
	kept->setValue(9);
	saveFolder(*dialog, config.scratch / "OneDrive");
	BackupManager saved(environment());
	saved.loadSettings();
	EXPECT_TRUE(saved.autoBackup.afterRecording);
	EXPECT_TRUE(saved.autoBackup.onExit);
	EXPECT_FALSE(saved.autoBackup.afterStream);
	EXPECT_EQ(saved.autoBackup.kept, 9);

	// A run that ends while the dialog is open shows at once; a failure in red with its reason.
	AutoBackupOutcome failed;
	failed.finishedAt = "2026-12-09T19:30:00Z";
	failed.trigger = "recording";
	failed.error = "Cannot lock /x: disk gone";
	publishAutoBackupOutcome(failed);
	auto *outcome = find<QLabel>(*dialog, "autoBackupOutcome");
	EXPECT_TRUE(QTest::qWaitFor([&] { return outcome->text().contains("disk gone"); }, 5000))
	    << outcome->text().toStdString();
	EXPECT_TRUE(outcome->text().startsWith(uiText(TextId::LastAutoBackup).arg(QString()).trimmed()));
	EXPECT_NE(outcome->styleSheet(), "color: gray;");

	AutoBackupOutcome done = failed;
	done.ok = true;
	done.error.clear();
	done.copied = 3;
	done.skipped = 1;
	publishAutoBackupOutcome(done);
	auto reopened = openDialog();
	EXPECT_TRUE(find<QLabel>(*reopened, "autoBackupOutcome")
			->text()
			.endsWith(uiText(TextId::FilesCopiedSkipped).arg(3).arg(1)));
}

} // namespace
} // namespace kestrel::test
