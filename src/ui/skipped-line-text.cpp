#include "ui/skipped-line-text.h"

#include "ui/ui-text.h"

#include <string_view>
#include <utility>

namespace kestrel {

namespace {

// The restore's reasons, in English as the command line prints them, and their text rows.
const std::pair<std::string_view, int> kReasons[] = {
    {"unsafe path", 81},
    {"OBS configuration folder unknown", 82},
    {"not a file name", 83},
    {"control characters in the path", 84},
    {"not in a profile folder", 85},
    // The dialog asked before the run, so skipping these was the user's choice.
    {"outside the home folder; restore it with --outside-home", 86},
    {"home folder unknown", 87},
    {"not an absolute path", 88},
    {"inside OBS's plug-in folder", 89},
    {"outside the home folder", 90},
    {"hidden file or folder of the home", 91},
    {"hidden file or folder", 92},
    {"error", 93},
    {"inside OBS's plug-in settings folder", 95},
    {"OBS's own settings file", 96},
    {"same destination as an earlier entry", 97},
};

// A reason that names the folder it refers to.
constexpr std::string_view kSystemFolderReason = "inside the system folder ";

} // namespace

QString skippedLineText(const std::string &reason, const std::string &file)
{
	QString reasonText = QString::fromStdString(reason);
	for (const auto &[english, row] : kReasons)
		if (english == reason)
			reasonText = uiText(row);
	if (reason.rfind(kSystemFolderReason, 0) == 0)
		reasonText =
		    uiText(98).arg(QString::fromStdString(reason.substr(kSystemFolderReason.size())));
	return uiText(94).arg(reasonText, QString::fromStdString(file));
}

} // namespace kestrel
