#include "platform/app-data-folder.h"
#include "platform/home-folder.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace kestrel {
namespace {

TEST(WindowsKnownFolders, RoamingAppDataIsTheShellsAndHomeIsUserProfile)
{
	const char *appData = std::getenv("APPDATA");
	ASSERT_NE(appData, nullptr);
	EXPECT_EQ(platform::roamingAppDataFolder(), appData);
	EXPECT_EQ(platform::homeFolder(), std::getenv("USERPROFILE"));
}

} // namespace
} // namespace kestrel
