#include "ui/support-panel.h"

#include "common/ui-text.h"

#include <QDesktopServices>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QSvgRenderer>
#include <QUrl>
#include <QVBoxLayout>

namespace kestrel {

namespace {

constexpr const char *kTipService = "Ko-fi";

struct SocialPlatform {
	const char *name;
	const char *path; // below the project page
	const char *svg;  // a small square logo in the platform's colours
};

const SocialPlatform kPlatforms[] =
    {
	{"Twitch", "/twitch",
	 R"svg(<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 24 24"><rect width="24" height="24" rx="4" fill="#9146FF"/><path d="M6 4 4.5 7.5V18h4v2.5h2.5L13.5 18h3l3.5-3.5V4Z" fill="#fff"/><path d="M7.5 5.5h11v8.5l-2.5 2.5h-3.5l-2.5 2.5v-2.5h-2.5Z" fill="#9146FF"/><path d="M11 8h1.5v4.5H11Zm4 0h1.5v4.5H15Z" fill="#fff"/></svg>)svg"},
	{"YouTube", "/youtube",
	 R"svg(<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 24 24"><rect width="24" height="24" rx="5" fill="#FF0000"/><path d="M9.5 7.5v9l7.5-4.5Z" fill="#fff"/></svg>)svg"},
	{"Kick", "/kick",
	 R"svg(<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 24 24"><rect width="24" height="24" rx="4" fill="#53FC18"/><path d="M5 4h4.5v5H11V6.5h2.5V4H18v5h-2.5v2.5H13v1h2.5V15H18v5h-4.5v-2.5H11V15H9.5v5H5Z" fill="#000"/></svg>)svg"},
	{"TikTok", "/tiktok",
	 R"svg(<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 24 24"><rect width="24" height="24" rx="5" fill="#010101"/><path d="M13 4.5h2.6a4.4 4.4 0 0 0 3.9 3.9v2.7a7 7 0 0 1-3.9-1.3v5.6a4.9 4.9 0 1 1-4.9-4.9v2.7a2.2 2.2 0 1 0 2.3 2.2Z" fill="#25F4EE" transform="translate(-0.8 -0.6)"/><path d="M13 4.5h2.6a4.4 4.4 0 0 0 3.9 3.9v2.7a7 7 0 0 1-3.9-1.3v5.6a4.9 4.9 0 1 1-4.9-4.9v2.7a2.2 2.2 0 1 0 2.3 2.2Z" fill="#FE2C55" transform="translate(0.8 0.6)"/><path d="M13 4.5h2.6a4.4 4.4 0 0 0 3.9 3.9v2.7a7 7 0 0 1-3.9-1.3v5.6a4.9 4.9 0 1 1-4.9-4.9v2.7a2.2 2.2 0 1 0 2.3 2.2Z" fill="#fff"/></svg>)svg"},
	{"Instagram",
	 "/instagram", R"svg(<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 24 24"><defs><linearGradient id="g" x1="0" y1="1" x2="1" y2="0"><stop offset="0" stop-color="#FEDA75"/><stop offset="0.35" stop-color="#FA7E1E"/><stop offset="0.6" stop-color="#D62976"/><stop offset="1" stop-color="#4F5BD5"/></linearGradient></defs><rect width="24" height="24" rx="6" fill="url(#g)"/><rect x="5" y="5" width="14" height="14" rx="4" fill="none" stroke="#fff" stroke-width="1.8"/><circle cx="12" cy="12" r="3.3" fill="none" stroke="#fff" stroke-width="1.8"/><circle cx="16.3" cy="7.7" r="1.1" fill="#fff"/></svg>)svg"},
};

QIcon iconFromSvg(const char *svg)
{
	QSvgRenderer renderer{QByteArray(svg)};
	QPixmap pixmap(36, 36);
	pixmap.fill(Qt::transparent);
	QPainter painter(&pixmap);
	painter.setRenderHint(QPainter::Antialiasing);
	renderer.render(&painter);
	painter.end();
	pixmap.setDevicePixelRatio(2.0);
	return QIcon(pixmap);
}

QLabel *wrappedLabel(const QString &text)
{
	auto *label = new QLabel(text);
	label->setWordWrap(true);
	return label;
}

} // namespace

QString projectPage()
{
	return QStringLiteral(KESTREL_PROJECT_PAGE);
}

QGroupBox *makeSupportGroup(const QString &page)
{
	auto *group = new QGroupBox(uiText(TextId::SupportGroup));
	group->setObjectName("supportGroup");
	auto *layout = new QVBoxLayout(group);
	auto *appeal =
	    wrappedLabel(uiText(TextId::SupportAppeal) + "<br><br>👉 " +
			 QStringLiteral("<a href=\"%1/donate\">%2</a>").arg(page, uiText(TextId::Donate)) +
			 "&nbsp;&nbsp;•&nbsp;&nbsp;" +
			 QStringLiteral("<a href=\"%1/tip\">%2 (tip)</a>").arg(page, kTipService));
	appeal->setObjectName("supportLabel");
	appeal->setTextFormat(Qt::RichText);
	appeal->setOpenExternalLinks(true);
	layout->addWidget(appeal);
	return group;
}

QGroupBox *makeSocialGroup(const QString &page)
{
	auto *group = new QGroupBox(uiText(TextId::FollowGroup));
	group->setObjectName("socialGroup");
	auto *layout = new QVBoxLayout(group);
	layout->addWidget(wrappedLabel(uiText(TextId::FollowAppeal)));
	auto *row = new QHBoxLayout;
	for (const SocialPlatform &platform : kPlatforms) {
		auto *button = new QPushButton(iconFromSvg(platform.svg), platform.name);
		button->setIconSize(QSize(18, 18));
		const QUrl profile(page + QString::fromLatin1(platform.path));
		QObject::connect(button, &QPushButton::clicked,
				 [profile] { QDesktopServices::openUrl(profile); });
		row->addWidget(button);
	}
	layout->addLayout(row);
	return group;
}

} // namespace kestrel
