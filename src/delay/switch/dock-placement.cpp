#include "delay/switch/dock-placement.h"

#include <QDockWidget>
#include <QMainWindow>
#include <QSettings>

namespace kestrel {
namespace {

const char *const placedKey = "delayDockPlaced";
const char *const controlsDockId = "controlsDock";

} // namespace

bool placeDockOnFirstStart(QMainWindow &window, const QString &dockId, QSettings &store)
{
	if (store.value(QLatin1String(placedKey), false).toBool())
		return false;
	auto *dock = window.findChild<QDockWidget *>(dockId);
	if (!dock)
		return false;
	dock->setFloating(false);
	auto *controls = window.findChild<QDockWidget *>(QLatin1String(controlsDockId));
	if (controls && !controls->isFloating() && window.dockWidgetArea(controls) != Qt::NoDockWidgetArea) {
		window.splitDockWidget(controls, dock, Qt::Horizontal);
	} else {
		window.addDockWidget(Qt::RightDockWidgetArea, dock);
	}
	dock->show();
	store.setValue(QLatin1String(placedKey), true);
	return true;
}

} // namespace kestrel
