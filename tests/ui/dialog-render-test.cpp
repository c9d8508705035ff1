#include "dialog-fixture.h"

#include "common/ui-text.h"

#include <QDir>
#include <QTabBar>

namespace kestrel {
namespace {

using test::DialogTest;

// Why a shown text would be cut off at the widget's present size; empty when it fits.
std::string cutOff(const QWidget &widget)
{
	QString text;
	bool fits = true;
	if (const auto *label = qobject_cast<const QLabel *>(&widget)) {
		text = label->text();
		fits = label->wordWrap() ? label->height() >= label->heightForWidth(label->width())
					 : label->width() >= label->sizeHint().width() &&
					       label->height() >= label->sizeHint().height();
	} else if (const auto *button = qobject_cast<const QPushButton *>(&widget)) {
		text = button->text();
		fits = button->width() >= button->sizeHint().width() &&
		       button->height() >= button->sizeHint().height();
	}
	return fits ? std::string() : text.toStdString();
}

TEST_F(DialogTest, EveryPageRendersInEveryLanguageWithNoTextCutOff)
{
	test::MessageBoxAnswerer boxes;
	const QDir renders(KESTREL_RENDER_DIR);
	ASSERT_TRUE(renders.mkpath("."));
	for (int language = 0; language < 5; ++language) {
		chooseLanguage(language);
		auto dialog = openDialog();
		auto *tabs = find<QTabWidget>(*dialog, "tabs");
		for (int page = 0; page < tabs->count(); ++page) {
			tabs->setCurrentIndex(page);
			QCoreApplication::processEvents();
			const QString file =
			    renders.filePath(QStringLiteral("dialog-%1-page%2.png").arg(language).arg(page));
			EXPECT_TRUE(dialog->grab().save(file)) << file.toStdString();
			EXPECT_LE(tabs->tabBar()->sizeHint().width(), tabs->tabBar()->width())
			    << "tab titles elided";
			for (const QWidget *widget : tabs->currentWidget()->findChildren<QWidget *>()) {
				if (widget->isVisible()) {
					EXPECT_EQ(cutOff(*widget), "")
					    << "language " << language << ", page " << page;
				}
			}
		}
	}
}

} // namespace
} // namespace kestrel
