// The real Secret Service: run by with-private-keyring.sh inside a D-Bus session of its own with
// gnome-keyring-daemon, so the user's own keyring is never touched.
#include "platform/secret-store.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace kestrel {
namespace {

TEST(SecretService, KeepsReplacesAndForgetsASecret)
{
	const auto keyring = platform::systemSecretStore("");
	std::string why;
	if (!std::getenv("KESTREL_PRIVATE_KEYRING") || !keyring->reachable(why))
		GTEST_SKIP() << "no private keyring to use: " << why;
	std::string error;
	const std::string key = "kestrel-test-" + std::to_string(std::rand());
	EXPECT_FALSE(keyring->load(key, error));
	EXPECT_EQ(error, "");
	ASSERT_TRUE(keyring->store(key, R"({"tokens":"caf\u00e9"})", error)) << error;
	EXPECT_EQ(keyring->load(key, error).value_or(""), R"({"tokens":"caf\u00e9"})");
	ASSERT_TRUE(keyring->store(key, "second", error)) << error;
	EXPECT_EQ(keyring->load(key, error).value_or(""), "second");
	EXPECT_TRUE(keyring->erase(key, error)) << error;
	EXPECT_FALSE(keyring->load(key, error));
	EXPECT_TRUE(keyring->erase(key, error)) << "an unknown key is already gone";
}

TEST(SecretService, WithoutASessionBusThereIsNoKeyring)
{
	const char *bus = std::getenv("DBUS_SESSION_BUS_ADDRESS");
	const std::string saved = bus ? bus : "";
	const char *runtime = std::getenv("XDG_RUNTIME_DIR");
	const std::string savedRuntime = runtime ? runtime : "";
	unsetenv("DBUS_SESSION_BUS_ADDRESS");
	setenv("XDG_RUNTIME_DIR", "/nonexistent", 1);
	std::string why;
	EXPECT_FALSE(platform::systemSecretStore("")->reachable(why));
	EXPECT_EQ(why, "no D-Bus session bus");
	if (bus)
		setenv("DBUS_SESSION_BUS_ADDRESS", saved.c_str(), 1);
	if (runtime)
		setenv("XDG_RUNTIME_DIR", savedRuntime.c_str(), 1);
	else
		unsetenv("XDG_RUNTIME_DIR");
}

} // namespace
} // namespace kestrel
