// Peak memory of a 3 GB upload through each cloud back-end, against its loopback fake in the same
// process, and a byte-for-byte check of the restored copy. Each back-end runs in a child process
// of its own, so each figure is that back-end's alone.
//   kestrel_cloud_memory [size in MiB, default 3072] [folder, default the system's temporary one]
#include "providers/google-drive-provider.h"
#include "providers/onedrive-provider.h"

#include "fake-google-drive.h"
#include "fake-onedrive.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

namespace fs = std::filesystem;
using namespace kestrel;

namespace {

// The process's peak resident memory so far (VmHWM), in KiB.
long peakKib()
{
	std::ifstream status("/proc/self/status");
	for (std::string line; std::getline(status, line);)
		if (line.rfind("VmHWM:", 0) == 0)
			return std::strtol(line.c_str() + 6, nullptr, 10);
	return -1;
}

// Sparse but not empty: a marked 4 KiB every 256 MiB, so a misplaced byte shows.
void makeSparseFile(const fs::path &file, uint64_t size)
{
	{
		std::ofstream out(file, std::ios::binary | std::ios::trunc);
	}
	fs::resize_file(file, size);
	std::fstream out(file, std::ios::binary | std::ios::in | std::ios::out);
	for (uint64_t offset = 0; offset + 4096 <= size; offset += uint64_t{256} << 20) {
		std::string mark(4096, '\0');
		for (size_t i = 0; i < mark.size(); ++i)
			mark[i] = static_cast<char>((offset >> 20) + i * 7 + 1);
		out.seekp(static_cast<std::streamoff>(offset));
		out.write(mark.data(), static_cast<std::streamsize>(mark.size()));
	}
}

bool sameBytes(const fs::path &a, const fs::path &b)
{
	std::ifstream left(a, std::ios::binary), right(b, std::ios::binary);
	std::string x(1 << 20, '\0'), y(1 << 20, '\0');
	while (left && right) {
		left.read(x.data(), static_cast<std::streamsize>(x.size()));
		right.read(y.data(), static_cast<std::streamsize>(y.size()));
		if (left.gcount() != right.gcount() || x.compare(0, static_cast<size_t>(left.gcount()), y, 0,
								 static_cast<size_t>(right.gcount())) != 0)
			return false;
	}
	return left.eof() && right.eof();
}

double seconds(std::chrono::steady_clock::time_point since)
{
	return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// Uploads and restores `source` through `provider`; prints one line; the exit status of a child.
int measure(const std::string &name, ICloudProvider &provider, const fs::path &source, const fs::path &folder)
{
	const long before = peakKib();
	const auto started = std::chrono::steady_clock::now();
	if (!provider.uploadFile(source.string(), "obs-cloud-backup/media/1_recording.mkv", nullptr)) {
		std::fprintf(stderr, "%s: upload failed: %s\n", name.c_str(), provider.lastError().c_str());
		return 1;
	}
	const double up = seconds(started);
	const long afterUpload = peakKib();
	const fs::path restored = folder / ("restored-" + std::to_string(getpid()) + ".mkv");
	const auto downStarted = std::chrono::steady_clock::now();
	const bool downloaded =
	    provider.downloadFile("obs-cloud-backup/media/1_recording.mkv", restored.string(), nullptr);
	const double down = seconds(downStarted);
	const bool same = downloaded && sameBytes(source, restored);
	std::error_code ec;
	fs::remove(restored, ec);
	rusage usage{};
	getrusage(RUSAGE_SELF, &usage);
	const auto cpu = [](const timeval &time) {
		return static_cast<double>(time.tv_sec) + time.tv_usec / 1e6;
	};
	std::printf(
	    "%-13s upload %6.1f s, restore %6.1f s (CPU %5.1f s user, %5.1f s system), peak RSS "
	    "%6.1f MiB (%6.1f MiB before the upload, %6.1f MiB after it), restored byte for byte: %s\n",
	    name.c_str(), up, down, cpu(usage.ru_utime), cpu(usage.ru_stime),
	    static_cast<double>(peakKib()) / 1024, static_cast<double>(before) / 1024,
	    static_cast<double>(afterUpload) / 1024, same ? "yes" : "NO");
	std::fflush(stdout);
	return same ? 0 : 1;
}

int inChild(const std::function<int()> &run)
{
	const pid_t child = fork();
	if (child == 0)
		_exit(run());
	int status = 0;
	waitpid(child, &status, 0);
	return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

} // namespace

int main(int argc, char **argv)
{
	const uint64_t mib = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 3072;
	const fs::path folder = argc > 2 ? fs::path(argv[2]) : fs::temp_directory_path();
	const fs::path source = folder / ("kestrel-sparse-" + std::to_string(getpid()) + ".mkv");
	makeSparseFile(source, mib << 20);
	std::printf("%llu MiB sparse file, production chunk sizes, fakes in the same process\n",
		    static_cast<unsigned long long>(mib));
	std::fflush(stdout); // not again from each child
	int failures = 0;
	failures += inChild([&] {
		test::FakeGoogleDrive service;
		GoogleDriveProvider drive(service.services(1));
		drive.setClientSecret(service.clientSecret);
		drive.loadTokens(R"({"access_token":"access-1","refresh_token":"refresh-1"})");
		return measure("Google Drive", drive, source, folder);
	});
	failures += inChild([&] {
		test::FakeOneDrive service;
		OneDriveProvider onedrive(service.services(1));
		onedrive.loadTokens(R"({"access_token":"graph-1","refresh_token":"mrefresh-1"})");
		return measure("OneDrive", onedrive, source, folder);
	});
	std::error_code ec;
	fs::remove(source, ec);
	return failures == 0 ? 0 : 1;
}
