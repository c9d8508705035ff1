#pragma once

class QGroupBox;

namespace kestrel {

// The Backup page's donation appeal and the row of social buttons; every address is the
// project's own, kept in support-panel.cpp.
QGroupBox *makeSupportGroup();
QGroupBox *makeSocialGroup();

} // namespace kestrel
