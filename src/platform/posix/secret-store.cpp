#include "platform/secret-store.h"

#include <libsecret/secret.h>

#include <cstdlib>
#include <filesystem>

namespace kestrel::platform {

namespace {

const SecretSchema *schema()
{
	static const SecretSchema kSchema = {
	    "org.kestrel.CloudBackup",
	    SECRET_SCHEMA_NONE,
	    {{"account", SECRET_SCHEMA_ATTRIBUTE_STRING}, {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING}},
	    0,
	    nullptr,
	    nullptr,
	    nullptr,
	    nullptr,
	    nullptr,
	    nullptr,
	    nullptr};
	return &kSchema;
}

// Takes a GError's message and frees it.
std::string messageOf(GError *error)
{
	std::string text = error && error->message ? error->message : "unknown error";
	g_clear_error(&error);
	return text;
}

class SecretServiceStore final : public SecretStore {
public:
	bool reachable(std::string &why) override
	{
		// Without a session bus libsecret would try to start one through X11: a headless
		// machine has none to reach.
		const char *bus = std::getenv("DBUS_SESSION_BUS_ADDRESS");
		const char *runtime = std::getenv("XDG_RUNTIME_DIR");
		std::error_code ec;
		if ((!bus || !*bus) &&
		    (!runtime || !std::filesystem::exists(std::filesystem::path(runtime) / "bus", ec))) {
			why = "no D-Bus session bus";
			return false;
		}
		GError *error = nullptr;
		SecretService *service =
		    secret_service_get_sync(SECRET_SERVICE_OPEN_SESSION, nullptr, &error);
		if (!service) {
			why = messageOf(error);
			return false;
		}
		g_object_unref(service);
		return true;
	}

	bool store(const std::string &key, const std::string &secret, std::string &error) override
	{
		GError *failure = nullptr;
		const std::string label = "Kestrel cloud backup sign-in (" + key + ")";
		if (secret_password_store_sync(schema(), SECRET_COLLECTION_DEFAULT, label.c_str(),
					       secret.c_str(), nullptr, &failure, "account", key.c_str(),
					       nullptr))
			return true;
		error = messageOf(failure);
		return false;
	}

	std::optional<std::string> load(const std::string &key, std::string &error) override
	{
		GError *failure = nullptr;
		gchar *secret =
		    secret_password_lookup_sync(schema(), nullptr, &failure, "account", key.c_str(), nullptr);
		if (failure) {
			error = messageOf(failure);
			return std::nullopt;
		}
		if (!secret)
			return std::nullopt;
		std::string text = secret;
		secret_password_free(secret);
		return text;
	}

	bool erase(const std::string &key, std::string &error) override
	{
		GError *failure = nullptr;
		secret_password_clear_sync(schema(), nullptr, &failure, "account", key.c_str(), nullptr);
		if (!failure)
			return true;
		error = messageOf(failure);
		return false;
	}
};

} // namespace

std::shared_ptr<SecretStore> systemSecretStore(const std::string &)
{
	return std::make_shared<SecretServiceStore>();
}

} // namespace kestrel::platform
