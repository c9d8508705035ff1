#include "common/ui-text.h"

#include "common/settings-store.h"
#include "common/ui-text-table.h"

namespace kestrel {
namespace {

constexpr int defaultLanguage = 1;

bool isLanguage(int language)
{
	return static_cast<unsigned>(language) < static_cast<unsigned>(uiLanguageCount);
}

int storedLanguage()
{
	bool isNumber = false;
	const int stored =
	    userSettingsStore().value(QStringLiteral("language"), defaultLanguage).toInt(&isNumber);
	return isNumber && isLanguage(stored) ? stored : defaultLanguage;
}

} // namespace

std::atomic<int> &currentLanguage()
{
	// A function-local static: the store is read once, by whichever thread comes first.
	static std::atomic<int> language{storedLanguage()};
	return language;
}

void chooseLanguage(int language)
{
	if (!isLanguage(language))
		language = defaultLanguage;
	currentLanguage().store(language);
	QSettings store = userSettingsStore();
	store.setValue(QStringLiteral("language"), language);
	store.sync();
}

QString uiText(TextId id)
{
	// An unknown id shows nothing rather than throwing into Qt's event loop.
	const auto row = static_cast<unsigned>(id);
	if (row >= static_cast<unsigned>(uiTextRowCount))
		return {};
	const int language = currentLanguage().load();
	return QString::fromUtf8(uiTextTable[row][isLanguage(language) ? language : 0]);
}

QString languageName(int language)
{
	static constexpr std::array<const char *, uiLanguageCount> names{"English", "Español", "Français",
									 "中文", "日本語"};
	return isLanguage(language) ? QString::fromUtf8(names[language]) : QString();
}

} // namespace kestrel
