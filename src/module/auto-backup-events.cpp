#include "module/auto-backup-events.h"

#include "ui/auto-backups.h"

#include <QDate>

namespace kestrel {

void dispatchAutoBackupEvent(AutoBackups &backups, enum obs_frontend_event event)
{
	switch (event) {
	case OBS_FRONTEND_EVENT_STREAMING_STOPPED:
		backups.trigger(AutoTrigger::StreamEnded);
		break;
	case OBS_FRONTEND_EVENT_RECORDING_STOPPED:
		backups.trigger(AutoTrigger::RecordingEnded);
		break;
	case OBS_FRONTEND_EVENT_EXIT:
		backups.trigger(AutoTrigger::Exit);
		break;
	case OBS_FRONTEND_EVENT_FINISHED_LOADING:
		backups.atStart(QDate::currentDate().toString(Qt::ISODate).toStdString());
		break;
	default:
		break;
	}
}

} // namespace kestrel
