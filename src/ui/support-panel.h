#pragma once

#include <QString>

class QGroupBox;

namespace kestrel {

// The project's web page that this build names (https://..., no trailing slash); empty when it
// names none, and then the dialog shows no support panel, so no button leads nowhere.
QString projectPage();

// The Backup page's donation appeal and the row of social buttons; every address lies below
// `page`, whose site forwards to the donation service and to the profile on each platform.
QGroupBox *makeSupportGroup(const QString &page);
QGroupBox *makeSocialGroup(const QString &page);

} // namespace kestrel
