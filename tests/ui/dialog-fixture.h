#pragma once

#include "ui/backup-dialog.h"

#include "backup/fake-obs-config.h"
#include "message-box-answerer.h"
#include "support/scratch-settings-store.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTextEdit>
#include <QTreeWidget>

#include <gtest/gtest.h>

namespace kestrel::test {

// A backup dialog over a temporary OBS configuration, with its settings store in a scratch
// folder and the delay switch's key kept in the fixture.
class DialogTest : public ::testing::Test {
protected:
	DialogTest() { config.addRealisticSetup(); }

	BackupEnvironment environment() const
	{
		BackupEnvironment environment = config.environment();
		environment.settingsPath = settingsFile.string();
		return environment;
	}

	std::unique_ptr<BackupDialog> openDialog()
	{
		auto dialog = std::make_unique<BackupDialog>(
		    environment(),
		    DelaySwitchKeys{{[this] { return toggleKey; }, [this](int vk) { toggleKey = vk; }},
				    {[this] { return dumpKey; }, [this](int vk) { dumpKey = vk; }}});
		dialog->show();
		return dialog;
	}

	template <typename Widget> static Widget *find(const BackupDialog &dialog, const char *name)
	{
		auto *widget = dialog.findChild<Widget *>(name);
		if (!widget)
			ADD_FAILURE() << "no widget " << name;
		return widget;
	}

	static void saveFolder(BackupDialog &dialog, const std::filesystem::path &folder)
	{
		find<QLineEdit>(dialog, "folderEdit")->setText(QString::fromStdString(folder.string()));
		find<QPushButton>(dialog, "saveButton")->click();
	}

	static void click(const BackupDialog &dialog, const char *button)
	{
		find<QPushButton>(dialog, button)->click();
	}

	// Until the run's finished slot has released the worker.
	static bool waitForRun(const BackupDialog &dialog)
	{
		return QTest::qWaitFor([&] { return dialog.currentWorker() == nullptr; }, 20000);
	}

	ScratchSettingsStore settings;
	FakeObsConfig config;
	std::filesystem::path settingsFile = config.scratch / "plugin_config/kestrel/cloud-backup.json";
	int toggleKey = 0;
	int dumpKey = 0;
};

} // namespace kestrel::test
