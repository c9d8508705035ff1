#pragma once

#include <QSettings>

namespace kestrel {

// The per-user store shared by the dialog and the delay switch ("language", "delayToggleVk").
inline QSettings userSettingsStore()
{
	return QSettings(QStringLiteral("Orvane"), QStringLiteral("WrenfieldBackups"));
}

} // namespace kestrel
