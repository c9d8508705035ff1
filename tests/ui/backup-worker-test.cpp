#include "ui/backup-worker.h"

#include "backup/fake-obs-config.h"
#include "support/obs-log-capture.h"
#include "support/unreadable-profile.h"

#include <QTest>
#include <QThread>

#include <gtest/gtest.h>

namespace kestrel {
namespace {

// One run on a thread of its own; what reaches the interface thread, in arrival order.
struct WorkerRun {
	WorkerRun(BackupManager &manager, WorkerMode mode, BackupManifest manifest = {})
	    : worker(manager, mode, std::move(manifest))
	{
		worker.moveToThread(&thread);
		QObject::connect(&thread, &QThread::started, &worker, &BackupWorker::run);
		QObject::connect(&worker, &BackupWorker::progress, &receiver,
				 [this](const QString &, int pct, int current, int total) {
					 arrived.push_back("progress " + QString::number(pct) + " " +
							   QString::number(current) + "/" +
							   QString::number(total));
				 });
		QObject::connect(&worker, &BackupWorker::log, &receiver,
				 [this](const QString &line) { arrived.push_back("log " + line); });
		QObject::connect(&worker, &BackupWorker::backupFinished, &receiver,
				 [this](bool ok, const QString &error) { finish("backup", ok, error); });
		QObject::connect(&worker, &BackupWorker::restoreFinished, &receiver,
				 [this](bool ok, const QString &error) { finish("restore", ok, error); });
		QObject::connect(&worker, &BackupWorker::manifestLoaded, &receiver,
				 [this](bool ok) { finish("manifest", ok, {}); });
		thread.start();
		EXPECT_TRUE(QTest::qWaitFor([this] { return finished; }, 20000));
		thread.quit();
		thread.wait();
	}

	void finish(const QString &kind, bool ok, const QString &error)
	{
		arrived.push_back(kind + (ok ? " ok " : " failed ") + error);
		finished = true;
	}

	int count(const QString &prefix) const
	{
		return static_cast<int>(
		    std::count_if(arrived.begin(), arrived.end(),
				  [&](const QString &line) { return line.startsWith(prefix); }));
	}

	QThread thread;
	BackupWorker worker;
	QObject receiver;
	QStringList arrived;
	bool finished = false;
};

TEST(BackupWorker, EveryRunEndsWithOneFinishingSignalAfterItsProgressAndLog)
{
	test::FakeObsConfig config;
	config.addRealisticSetup();
	auto manager = config.manager();

	WorkerRun backup(*manager, WorkerMode::Backup);
	EXPECT_EQ(backup.arrived.back(), "backup ok ");
	EXPECT_EQ(backup.count("backup"), 1);
	EXPECT_EQ(backup.arrived.front(), "log Building backup list…");
	EXPECT_EQ(backup.count("progress"), 10)
	    << "12 files: one a folder that is skipped, one in the hidden ~/.fonts that is refused";
	// Each file's progress arrives right after the log line that announced it.
	for (qsizetype line = 1; line < backup.arrived.size(); ++line) {
		const QString &progress = backup.arrived[line];
		if (progress.startsWith("progress ")) {
			EXPECT_TRUE(backup.arrived[line - 1].endsWith("(" + progress.section(' ', 2) + ")"))
			    << backup.arrived[line - 1].toStdString() << " / " << progress.toStdString();
		}
	}

	WorkerRun load(*manager, WorkerMode::LoadManifest);
	EXPECT_EQ(load.arrived.back(), "manifest ok ");
	ASSERT_EQ(load.worker.backups().size(), 1u);
	EXPECT_EQ(load.worker.backups().front().profiles.size(), 4u);

	WorkerRun restore(*manager, WorkerMode::Restore, load.worker.backups().front());
	EXPECT_EQ(restore.arrived.back(), "restore ok ");
	EXPECT_GT(restore.count("progress"), 5);

	BackupManager unconnected(config.environment());
	WorkerRun missing(unconnected, WorkerMode::LoadManifest);
	EXPECT_EQ(missing.arrived.back(), "manifest failed ");
	EXPECT_EQ(missing.count("manifest"), 1);
}

TEST(BackupWorker, AnUnreadableFolderIsSkippedAndTheRunGoesOn)
{
	test::FakeObsConfig config;
	config.addRealisticSetup();
	test::UnreadableProfile locked(config.profiles);
	auto manager = config.manager();
	test::ObsLogCapture obsLog;

	WorkerRun backup(*manager, WorkerMode::Backup);
	ASSERT_EQ(backup.count("backup"), 1);
	EXPECT_EQ(backup.arrived.back(), "backup ok ");
	EXPECT_EQ(backup.count("log   Skipped: sub \u2014 cannot read the folder: "), 1);
	EXPECT_FALSE(obsLog.containsLineStartingWith(LOG_ERROR, "[Kestrel] Worker exception"));
	EXPECT_EQ(backup.count("progress"), 10);
}

} // namespace
} // namespace kestrel
