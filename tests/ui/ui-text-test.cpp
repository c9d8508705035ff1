#include "common/ui-text-table.h"
#include "common/ui-text.h"

#include "support/scratch-settings-store.h"

#include <gtest/gtest.h>

#include <QRegularExpression>
#include <QStringList>

using namespace kestrel;

namespace {

QString textIn(int language, TextId id)
{
	currentLanguage().store(language);
	return uiText(id);
}

// Markup tags in order; fails the test when they do not nest.
QStringList balancedTags(const QString &text)
{
	static const QRegularExpression tag(QStringLiteral("<(/?)([a-z]+)>"));
	QStringList tags;
	QStringList open;
	for (auto it = tag.globalMatch(text); it.hasNext();) {
		const auto match = it.next();
		const QString name = match.captured(2);
		tags << match.captured(0);
		if (name == QLatin1String("br"))
			continue;
		if (match.captured(1).isEmpty()) {
			open << name;
		} else {
			EXPECT_FALSE(open.isEmpty()) << "closing without opening: " << text.toStdString();
			if (!open.isEmpty()) {
				EXPECT_EQ(open.takeLast(), name) << text.toStdString();
			}
		}
	}
	EXPECT_TRUE(open.isEmpty()) << "unclosed markup: " << text.toStdString();
	return tags;
}

class UiTextTest : public ::testing::Test {
protected:
	test::ScratchSettingsStore store;
};

TEST_F(UiTextTest, EveryRowInEveryLanguageKeepsPlaceholdersMarkupAndLines)
{
	const QString placeholder = QStringLiteral("%1");
	for (int row = 0; row < uiTextRowCount; ++row) {
		const auto id = static_cast<TextId>(row);
		const QString english = textIn(0, id);
		const QStringList englishTags = balancedTags(english);
		for (int language = 0; language < uiLanguageCount; ++language) {
			SCOPED_TRACE(testing::Message() << "row " << row << ", language " << language);
			const QString text = textIn(language, id);
			EXPECT_FALSE(text.trimmed().isEmpty());
			EXPECT_FALSE(text.contains(QChar::ReplacementCharacter));
			EXPECT_EQ(text.count(placeholder), english.count(placeholder));
			EXPECT_EQ(text.count(QLatin1Char('\n')), english.count(QLatin1Char('\n')));
			EXPECT_EQ(balancedTags(text), englishTags);
			if (language >= 3) {
				EXPECT_NE(text, english) << "left untranslated";
			}
		}
	}
}

TEST_F(UiTextTest, RowsWithFixedWordingAndSymbols)
{
	for (TextId id : {TextId::SettingsTab, TextId::BackupTab, TextId::RestoreTab, TextId::SupportGroup,
			  TextId::FollowGroup, TextId::DelaysOn, TextId::DelaysOff})
		for (int language = 1; language < uiLanguageCount; ++language)
			EXPECT_EQ(textIn(language, id).left(2), textIn(0, id).left(2))
			    << static_cast<int>(id);
	for (int language = 0; language < uiLanguageCount; ++language) {
		EXPECT_TRUE(
		    textIn(language, TextId::SupportAppeal).contains(QStringLiteral("<b>Kestrel</b>")));
		EXPECT_TRUE(textIn(language, TextId::OAuthHint)
				.contains(QStringLiteral("<b>http://localhost:8765/callback</b>")));
	}
	EXPECT_EQ(textIn(1, TextId::DialogTitle), QStringLiteral("Copia en la nube de OBS"));
	EXPECT_EQ(textIn(4, TextId::ConnectedTo), QStringLiteral("✓ %1 に接続済み"));
	EXPECT_EQ(textIn(3, TextId::NoToggleKey), QStringLiteral("无（仅用 OBS 快捷键）"));
	EXPECT_EQ(textIn(2, TextId::FileCount), QStringLiteral("%1 fichiers"));
	EXPECT_EQ(textIn(2, TextId::RestoreOverwrites),
		  QStringLiteral("Cela remplacera vos scènes, profils et médias OBS actuels.\nContinuer ?"));
	EXPECT_EQ(textIn(1, TextId::DelaysOn), QStringLiteral("🟢 Delays ACTIVOS — clic para apagar"));
	EXPECT_EQ(textIn(4, TextId::DelaysOff), QStringLiteral("🔴 ディレイ OFF（ライブ）— クリックで有効化"));
}

TEST_F(UiTextTest, LanguageOutsideTheTableShowsEnglishAndAnUnknownRowNothing)
{
	for (int language : {-1, 5, 42})
		EXPECT_EQ(textIn(language, TextId::StartBackup), QStringLiteral("Start backup"));
	for (int row : {-1, uiTextRowCount, 1000})
		EXPECT_TRUE(textIn(1, static_cast<TextId>(row)).isEmpty());
}

TEST_F(UiTextTest, LanguageNamesInListOrder)
{
	const QStringList names{QStringLiteral("English"), QStringLiteral("Español"),
				QStringLiteral("Français"), QStringLiteral("中文"), QStringLiteral("日本語")};
	for (int language = 0; language < uiLanguageCount; ++language)
		EXPECT_EQ(languageName(language), names[language]);
	EXPECT_TRUE(languageName(5).isEmpty());
}

TEST_F(UiTextTest, ChoosingWritesTheStoreAtOnce)
{
	chooseLanguage(4);
	EXPECT_EQ(currentLanguage().load(), 4);
	EXPECT_EQ(uiText(TextId::SettingsSavedTitle), QStringLiteral("設定を保存しました"));
	EXPECT_EQ(test::ScratchSettingsStore::open().value(QStringLiteral("language")).toInt(), 4);
}

} // namespace
