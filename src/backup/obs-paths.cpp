#include "backup/obs-paths.h"

#include "backup/file-bytes.h"
#include "providers/utf8-path.h"

#include <nlohmann/json.hpp>

#include <filesystem>

namespace kestrel {

namespace fs = std::filesystem;

namespace {

constexpr char kSeparator = static_cast<char>(fs::path::preferred_separator);
constexpr bool kPosixPaths = fs::path::preferred_separator == '/';

// The text from the last "." of the name; "." and ".." have none.
std::string extensionOf(const std::string &name)
{
	if (name == "." || name == "..")
		return {};
	const size_t dot = name.rfind('.');
	return dot == std::string::npos ? std::string() : name.substr(dot);
}

bool looksLikeWindowsPath(const std::string &text)
{
	return (text[1] == ':' && (text[2] == '\\' || text[2] == '/')) ||
	       (text[0] == '\\' && text[1] == '\\');
}

bool isMediaReference(const std::string &text)
{
	if (text.size() < 3)
		return false;
	std::error_code ec;
	if (looksLikeWindowsPath(text)) {
		const auto status = fs::status(pathFromUtf8(text), ec);
		return status.type() != fs::file_type::not_found && status.type() != fs::file_type::none;
	}
	// On POSIX only regular files count: "/dev/video0" or a folder is not media.
	return kPosixPaths && text[0] == '/' && fs::is_regular_file(pathFromUtf8(text), ec);
}

// Collects the string values (never member names) that have the shape of an absolute path,
// without building the document: scene collections can be large.
class PathShapedStrings : public nlohmann::json_sax<nlohmann::json> {
public:
	std::set<std::string> found;

	bool null() override { return true; }
	bool boolean(bool) override { return true; }
	bool number_integer(number_integer_t) override { return true; }
	bool number_unsigned(number_unsigned_t) override { return true; }
	bool number_float(number_float_t, const string_t &) override { return true; }
	bool string(string_t &value) override
	{
		if (value.size() >= 3 && (looksLikeWindowsPath(value) || (kPosixPaths && value[0] == '/')))
			found.insert(std::move(value));
		return true;
	}
	bool binary(binary_t &) override { return true; }
	bool start_object(std::size_t) override { return true; }
	bool key(string_t &) override { return true; }
	bool end_object() override { return true; }
	bool start_array(std::size_t) override { return true; }
	bool end_array() override { return true; }
	bool parse_error(std::size_t, const std::string &, const nlohmann::detail::exception &) override
	{
		return false;
	}
};

// Children in the order the file system delivers them; an error while advancing throws.
std::vector<fs::directory_entry> childrenOf(const std::string &folder)
{
	std::vector<fs::directory_entry> children;
	if (folder.empty())
		return children;
	std::error_code ec;
	for (const auto &entry : fs::directory_iterator(pathFromUtf8(folder), ec))
		children.push_back(entry);
	return children;
}

} // namespace

ObsPaths obsPathsIn(const std::string &configDir)
{
	if (configDir.empty())
		return {};
	const std::string basic = configDir + kSeparator + "basic" + kSeparator;
	return {configDir, basic + "scenes", basic + "profiles"};
}

ObsPaths findObsPaths(const std::string &appDataFolder)
{
	if (appDataFolder.empty())
		return {};
	return obsPathsIn(appDataFolder + kSeparator + "obs-studio");
}

std::vector<std::string> listSceneCollectionFiles(const ObsPaths &paths)
{
	std::vector<std::string> files;
	for (const auto &entry : childrenOf(paths.scenesDir)) {
		if (extensionOf(utf8FromPath(entry.path().filename())) == ".json")
			files.push_back(utf8FromPath(entry.path()));
	}
	return files;
}

std::vector<std::string> listProfileFolders(const ObsPaths &paths)
{
	std::vector<std::string> names;
	std::error_code ec;
	for (const auto &entry : childrenOf(paths.profilesDir)) {
		if (entry.is_directory(ec))
			names.push_back(utf8FromPath(entry.path().filename()));
	}
	return names;
}

std::set<std::string> scanSceneMedia(const std::string &sceneFile)
{
	const auto text = readFileBytes(sceneFile);
	if (!text)
		return {};
	PathShapedStrings strings;
	try {
		if (!nlohmann::json::sax_parse(*text, &strings))
			return {};
	} catch (const std::exception &) {
		return {};
	}
	std::set<std::string> media;
	for (auto &candidate : strings.found) {
		if (isMediaReference(candidate))
			media.insert(candidate);
	}
	return media;
}

std::set<std::string> collectMediaPaths(const ObsPaths &paths)
{
	std::set<std::string> media;
	for (const auto &file : listSceneCollectionFiles(paths))
		media.merge(scanSceneMedia(file));
	return media;
}

} // namespace kestrel
