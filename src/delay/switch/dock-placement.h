#pragma once

class QMainWindow;
class QSettings;
class QString;

namespace kestrel {

// OBS starts a plug-in's dock hidden and floating until the user places it. On the plug-in's
// first start for this user the dock `dockId` is docked beside OBS's Controls dock (or at the
// right when there is none) and shown; from then on OBS's saved layout decides. Returns whether
// it placed the dock.
bool placeDockOnFirstStart(QMainWindow &window, const QString &dockId, QSettings &store);

} // namespace kestrel
