#include "common/ui-text.h"

#include "support/scratch-settings-store.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace kestrel;

namespace {

// Runs in a forked child, so the language is read from the store afresh as after a restart.
[[noreturn]] void exitWithStartLanguage()
{
	std::exit(currentLanguage().load());
}

[[noreturn]] void exitAfterChoosing(int language)
{
	chooseLanguage(language);
	std::exit(currentLanguage().load());
}

class LanguageStoreTest : public ::testing::Test {
protected:
	QVariant stored() const
	{
		return test::ScratchSettingsStore::open().value(QStringLiteral("language"));
	}
	void store(const QVariant &value)
	{
		test::ScratchSettingsStore::open().setValue(QStringLiteral("language"), value);
	}

	test::ScratchSettingsStore settings;
};

TEST_F(LanguageStoreTest, FreshInstallationStartsInSpanishWithoutWriting)
{
	EXPECT_EXIT(exitWithStartLanguage(), ::testing::ExitedWithCode(1), "");
	EXPECT_FALSE(stored().isValid());
}

TEST_F(LanguageStoreTest, OutOfRangeOrDamagedValueStartsInSpanishAndStays)
{
	for (const QVariant &value :
	     {QVariant(7), QVariant(-1), QVariant(5), QVariant(QStringLiteral("fr"))}) {
		store(value);
		EXPECT_EXIT(exitWithStartLanguage(), ::testing::ExitedWithCode(1), "")
		    << value.toString().toStdString();
		EXPECT_EQ(stored(), value);
	}
}

TEST_F(LanguageStoreTest, StoredChoiceSurvivesARestart)
{
	for (int language : {0, 2, 3, 4}) {
		store(language);
		EXPECT_EXIT(exitWithStartLanguage(), ::testing::ExitedWithCode(language), "");
	}
	EXPECT_EXIT(exitAfterChoosing(4), ::testing::ExitedWithCode(4), "");
	EXPECT_EQ(stored().toInt(), 4);
	EXPECT_EXIT(exitWithStartLanguage(), ::testing::ExitedWithCode(4), "");
}

} // namespace
