#include "delay/switch/delay-switch-host.h"

#include "common/log.h"
#include "common/settings-store.h"
#include "delay/switch/delay-switch-dock.h"
#include "delay/switch/delay-switch.h"
#include "delay/switch/dock-placement.h"

#include <QDockWidget>
#include <QMainWindow>
#include <QPointer>
#include <obs-frontend-api.h>

namespace kestrel {
namespace {

const char *const dockId = "wrenfield_delay_switch";
const char *const dockTitle = "Kestrel — Delays";

#if LIBOBS_API_MAJOR_VER < 30
// OBS may destroy its main window, and our dock with it, before the module unloads.
QPointer<QDockWidget> dockWindow;
#endif

} // namespace

void createDelaySwitchDock(StatusFeed status)
{
	delaySwitch().loadKeys();
	auto *mainWindow = static_cast<QMainWindow *>(obs_frontend_get_main_window());
	if (!mainWindow)
		return;
#if LIBOBS_API_MAJOR_VER >= 30
	obs_frontend_add_dock_by_id(dockId, dockTitle, new DelaySwitchDock(delaySwitch(), status));
#else
	// libobs 29 only takes a finished QDockWidget and leaves placing it to the plug-in.
	dockWindow = new QDockWidget(QString::fromUtf8(dockTitle), mainWindow);
	dockWindow->setObjectName(QString::fromLatin1(dockId));
	dockWindow->setWidget(new DelaySwitchDock(delaySwitch(), status, dockWindow));
	mainWindow->addDockWidget(Qt::RightDockWidgetArea, dockWindow);
	obs_frontend_add_dock(dockWindow);
#endif
}

void showDelaySwitchDockOnFirstStart()
{
	auto *mainWindow = static_cast<QMainWindow *>(obs_frontend_get_main_window());
	if (!mainWindow)
		return;
	QSettings store = userSettingsStore();
	if (placeDockOnFirstStart(*mainWindow, QString::fromLatin1(dockId), store))
		KESTREL_LOG(Info, "delay switch dock shown beside the controls (first start)");
}

void removeDelaySwitchDock()
{
#if LIBOBS_API_MAJOR_VER >= 30
	obs_frontend_remove_dock(dockId);
#else
	delete dockWindow.data();
#endif
}

} // namespace kestrel
