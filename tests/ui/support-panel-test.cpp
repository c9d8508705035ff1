#include "dialog-fixture.h"

#include "ui/support-panel.h"

#include <QDesktopServices>
#include <QGroupBox>
#include <QRegularExpression>
#include <QUrl>

namespace kestrel {
namespace {

using test::DialogTest;

// Takes the addresses the panel asks the system browser to open, so no browser starts.
class OpenedUrls : public QObject {
	Q_OBJECT
public:
	OpenedUrls()
	{
		for (const char *scheme : {"http", "https"})
			QDesktopServices::setUrlHandler(scheme, this, "open");
	}
	~OpenedUrls() override
	{
		for (const char *scheme : {"http", "https"})
			QDesktopServices::unsetUrlHandler(scheme);
	}
	QStringList urls;
public slots:
	void open(const QUrl &url) { urls << url.toString(); }
};

// Every address a widget below `root` leads to: the links of its labels and the pages its
// push buttons open when clicked.
QStringList supportAddresses(QWidget &root)
{
	QStringList addresses;
	const QRegularExpression href(QStringLiteral("href=\"([^\"]*)\""));
	for (auto *label : root.findChildren<QLabel *>())
		for (auto it = href.globalMatch(label->text()); it.hasNext();)
			addresses << it.next().captured(1);
	OpenedUrls opened;
	for (auto *button : root.findChildren<QPushButton *>())
		button->click();
	return addresses + opened.urls;
}

TEST_F(DialogTest, SupportPanelLeadsOnlyBelowTheProjectPage)
{
	const QString page = QStringLiteral("https://streamer.tools/kestrel");
	std::unique_ptr<QGroupBox> support(makeSupportGroup(page));
	std::unique_ptr<QGroupBox> social(makeSocialGroup(page));
	const QStringList addresses = supportAddresses(*support) + supportAddresses(*social);
	EXPECT_EQ(addresses,
		  (QStringList{page + "/donate", page + "/tip", page + "/twitch", page + "/youtube",
			       page + "/kick", page + "/tiktok", page + "/instagram"}));

	// The dialog shows the panel only when this build names a page, and then leads only there.
	auto dialog = openDialog();
	const QString built = projectPage();
	EXPECT_EQ(dialog->findChild<QGroupBox *>("supportGroup") != nullptr, !built.isEmpty());
	EXPECT_EQ(dialog->findChild<QGroupBox *>("socialGroup") != nullptr, !built.isEmpty());
	for (const char *group : {"supportGroup", "socialGroup"}) {
		auto *box = dialog->findChild<QGroupBox *>(group);
		if (!box)
			continue;
		for (const QString &address : supportAddresses(*box)) {
			EXPECT_TRUE(address.startsWith(built + "/")) << address.toStdString();
			EXPECT_FALSE(QUrl(address).host().contains("example")) << address.toStdString();
		}
	}
}

TEST_F(DialogTest, FolderHintShowsAFolderBelowThisUsersHome)
{
	auto dialog = openDialog();
	const QString hint = find<QLineEdit>(*dialog, "folderEdit")->placeholderText();
	const QString home = QString::fromStdString(environment().homeFolder);
	ASSERT_FALSE(home.isEmpty());
	EXPECT_TRUE(hint.endsWith(" " + QDir::toNativeSeparators(home + "/OneDrive/OBS-Backup")))
	    << hint.toStdString();
#ifndef _WIN32
	EXPECT_FALSE(hint.contains("C:\\")) << hint.toStdString();
#endif
}

} // namespace
} // namespace kestrel

#include "support-panel-test.moc"
