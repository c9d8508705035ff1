#include <QApplication>

#include <gtest/gtest.h>

// Qt's offscreen platform plugin never frees its screen; that one is Qt's, not a leak of ours.
extern "C" const char *__lsan_default_suppressions()
{
	return "leak:libqoffscreen.so\n";
}

// Real widgets on Qt's offscreen platform: no display needed.
int main(int argc, char **argv)
{
	qputenv("QT_QPA_PLATFORM", "offscreen");
	QApplication app(argc, argv);
	testing::InitGoogleTest(&argc, argv);
	return RUN_ALL_TESTS();
}
