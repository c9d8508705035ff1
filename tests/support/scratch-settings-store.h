#pragma once

#include "scratch-folder.h"

#include <QSettings>
#include <QString>

namespace kestrel::test {

// Points every per-user QSettings store of this process at a scratch folder.
class ScratchSettingsStore {
public:
	ScratchSettingsStore()
	{
		const QString path = QString::fromStdString(folder_.root().string());
		QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, path);
		QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, path);
	}

	static QSettings open()
	{
		return QSettings(QStringLiteral("Orvane"), QStringLiteral("WrenfieldBackups"));
	}

private:
	ScratchFolder folder_;
};

} // namespace kestrel::test
