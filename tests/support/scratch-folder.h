#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <string>

namespace kestrel::test {

// A folder inside `parent` that did not exist before.
inline std::filesystem::path freshFolderIn(const std::filesystem::path &parent)
{
#ifdef _WIN32
	// No mkdtemp: a folder that create_directory makes anew is the caller's alone.
	std::random_device random;
	for (int attempt = 0; attempt < 100; ++attempt) {
		auto candidate = parent / ("kestrel-test-" + std::to_string(random()));
		if (std::filesystem::create_directory(candidate))
			return candidate;
	}
	throw std::runtime_error("no scratch folder");
#else
	std::string pattern = (parent / "kestrel-test-XXXXXX").string();
	if (!mkdtemp(pattern.data()))
		throw std::runtime_error("mkdtemp failed");
	return pattern;
#endif
}

// A fresh folder under the system's temporary folder (or `parent`), removed with everything in it.
class ScratchFolder {
public:
	explicit ScratchFolder(const std::filesystem::path &parent = std::filesystem::temp_directory_path())
	    : root_(freshFolderIn(parent))
	{
	}
	~ScratchFolder()
	{
		std::error_code ec;
		std::filesystem::remove_all(root_, ec);
	}
	ScratchFolder(const ScratchFolder &) = delete;
	ScratchFolder &operator=(const ScratchFolder &) = delete;

	const std::filesystem::path &root() const { return root_; }
	std::filesystem::path operator/(const std::string &relative) const { return root_ / relative; }

private:
	std::filesystem::path root_;
};

inline void writeFile(const std::filesystem::path &file, const std::string &bytes)
{
	std::filesystem::create_directories(file.parent_path());
	std::ofstream out(file, std::ios::binary | std::ios::trunc);
	out << bytes;
	if (!out)
		throw std::runtime_error("cannot write " + file.string());
}

inline std::string readFile(const std::filesystem::path &file)
{
	std::ifstream in(file, std::ios::binary);
	return std::string(std::istreambuf_iterator<char>(in), {});
}

} // namespace kestrel::test
