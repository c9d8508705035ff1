#include "ui/auto-backup-status.h"

#include "common/ui-text.h"

#include <QDateTime>

#include <atomic>
#include <mutex>

namespace kestrel {

namespace {

std::mutex outcomeMutex;
std::optional<AutoBackupOutcome> latestOutcome;
std::atomic<uint64_t> outcomeVersion{0};

QString localTimeText(const std::string &utc)
{
	const QDateTime time = QDateTime::fromString(QString::fromStdString(utc), Qt::ISODate);
	return time.isValid() ? time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd hh:mm"))
			      : QString::fromStdString(utc);
}

} // namespace

void publishAutoBackupOutcome(const AutoBackupOutcome &outcome)
{
	{
		const std::lock_guard lock(outcomeMutex);
		latestOutcome = outcome;
	}
	outcomeVersion.fetch_add(1);
}

std::optional<AutoBackupOutcome> latestAutoBackupOutcome()
{
	const std::lock_guard lock(outcomeMutex);
	return latestOutcome;
}

uint64_t autoBackupOutcomeVersion()
{
	return outcomeVersion.load();
}

QString autoBackupOutcomeLine(const std::optional<AutoBackupOutcome> &outcome)
{
	if (!outcome)
		return uiText(TextId::NoAutoBackupYet);
	QString detail;
	if (!outcome->ok)
		detail = uiText(TextId::FailedWith).arg(QString::fromStdString(outcome->error));
	else if (outcome->unchanged)
		detail = uiText(TextId::NothingChanged);
	else
		detail = uiText(TextId::FilesCopiedSkipped).arg(outcome->copied).arg(outcome->skipped);
	return uiText(TextId::LastAutoBackup)
	    .arg(localTimeText(outcome->finishedAt) + QStringLiteral(" \u2014 ") + detail);
}

StatusLine autoBackupStatusLine()
{
	const auto outcome = latestAutoBackupOutcome();
	return {autoBackupOutcomeLine(outcome), outcome.has_value(), outcome && !outcome->ok};
}

} // namespace kestrel
