#include "ui/skipped-line-text.h"

#include "common/ui-text.h"

#include <string_view>
#include <utility>

namespace kestrel {

namespace {

// The restore's reasons, in English as the command line prints them, and their texts.
const std::pair<std::string_view, TextId> kReasons[] = {
    {"unsafe path", TextId::UnsafePath},
    {"OBS configuration folder unknown", TextId::ObsConfigUnknown},
    {"not a file name", TextId::NotAFileName},
    {"control characters in the path", TextId::ControlCharacters},
    {"not in a profile folder", TextId::NotInProfileFolder},
    // The dialog asked before the run, so skipping these was the user's choice.
    {"outside the home folder; restore it with --outside-home", TextId::OutsideHomeSkipped},
    {"home folder unknown", TextId::HomeUnknown},
    {"not an absolute path", TextId::NotAbsolute},
    {"inside OBS's plug-in folder", TextId::InsidePluginFolder},
    {"outside the home folder", TextId::OutsideHome},
    {"hidden file or folder of the home", TextId::HiddenInHome},
    {"hidden file or folder", TextId::Hidden},
    {"error", TextId::Error},
    {"inside OBS's plug-in settings folder", TextId::InsidePluginSettings},
    {"OBS's own settings file", TextId::ObsSettingsFile},
    {"same destination as an earlier entry", TextId::SameDestination},
    {"inside the application data folder", TextId::InsideAppData},
    {"inside a hidden or system folder", TextId::InsideHiddenOrSystemFolder},
    {"an executable or script in a Startup folder", TextId::StartupLaunchable},
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
		reasonText = uiText(TextId::InsideSystemFolder)
				 .arg(QString::fromStdString(reason.substr(kSystemFolderReason.size())));
	return uiText(TextId::SkippedLine).arg(reasonText, QString::fromStdString(file));
}

} // namespace kestrel
