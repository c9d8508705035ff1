// Both cloud back-ends against their fakes at a streamer's scale: listings of many pages, files
// that go up in chunks, a service that is busy or breaks connections, a token that expires.
#include "providers/google-drive-provider.h"
#include "providers/onedrive-provider.h"

#include "fake-google-drive.h"
#include "fake-onedrive.h"
#include "support/scratch-folder.h"

#include <gtest/gtest.h>

#include <random>

namespace kestrel {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::Fault;
using test::Reply;

// Small chunks so a file of a few hundred KB already takes the resumable road.
CloudServices atSmallScale(CloudServices services, std::vector<std::chrono::milliseconds> &waits)
{
	services.uploads.resumableFrom = 256 * 1024;
	services.uploads.chunkBytes = 1; // one unit of the service
	services.retry.sleep = [&waits](std::chrono::milliseconds wait) { waits.push_back(wait); };
	return services;
}

struct DriveAccount {
	static constexpr const char *kChunkTarget = "upload_id=";
	static constexpr const char *kContentTarget = "alt=media";
	test::FakeGoogleDrive service;
	std::vector<std::chrono::milliseconds> waits;
	GoogleDriveProvider provider{atSmallScale(service.services(1), waits)};

	DriveAccount()
	{
		provider.setClientSecret(service.clientSecret);
		provider.loadTokens(R"({"access_token":"access-1","refresh_token":"refresh-1"})");
	}
	std::string stored(const std::string &remote) const
	{
		return service.item(service.idOf(remote)).content.str();
	}
	void plant(const std::string &folder, const std::string &name, const std::string &bytes)
	{
		provider.createFolder(folder);
		service.setItem("planted-" + name, {name, service.idOf(folder), false, bytes, false});
	}
};

struct OneDriveAccount {
	static constexpr const char *kChunkTarget = "/upload-session/";
	static constexpr const char *kContentTarget = "/content/";
	test::FakeOneDrive service;
	std::vector<std::chrono::milliseconds> waits;
	OneDriveProvider provider{atSmallScale(service.services(1), waits)};

	OneDriveAccount()
	{
		provider.loadTokens(R"({"access_token":"graph-1","refresh_token":"mrefresh-1"})");
	}
	std::string stored(const std::string &remote) const { return service.items()[remote].content.str(); }
	void plant(const std::string &folder, const std::string &name, const std::string &bytes)
	{
		service.setItem(folder, {true, {}});
		service.setItem(folder + "/" + name, {false, bytes});
	}
};

std::string randomBytes(size_t size)
{
	std::mt19937 random(42);
	std::string bytes(size, '\0');
	for (char &byte : bytes)
		byte = static_cast<char>(random());
	return bytes;
}

template <typename Account> class CloudScale : public ::testing::Test {
protected:
	Account account;
	test::ScratchFolder scratch;

	size_t requestsTo(const std::string &method, const std::string &target) const
	{
		size_t count = 0;
		for (const auto &request : account.service.server.requests())
			count += request.method == method && request.target.find(target) != std::string::npos;
		return count;
	}
	std::string upload(const std::string &bytes, const std::string &remote,
			   const ProgressCallback &progress = nullptr)
	{
		const fs::path local = scratch / "up" / fs::path(remote).filename();
		test::writeFile(local, bytes);
		return account.provider.uploadFile(local.string(), remote, progress)
			   ? ""
			   : account.provider.lastError();
	}
};

using Accounts = ::testing::Types<DriveAccount, OneDriveAccount>;
TYPED_TEST_SUITE(CloudScale, Accounts);

TYPED_TEST(CloudScale, ListsEveryPage)
{
	for (int i = 0; i < 450; ++i)
		this->account.plant("obs-cloud-backup/media", "clip" + std::to_string(i) + ".mp4", "x");
	std::vector<RemoteEntry> entries;
	ASSERT_TRUE(this->account.provider.listFolder("obs-cloud-backup/media", entries));
	std::set<std::string> names;
	for (const auto &entry : entries)
		names.insert(entry.name);
	EXPECT_EQ(entries.size(), 450u);
	EXPECT_EQ(names.size(), 450u);
	EXPECT_GE(this->requestsTo("GET", "obs-cloud-backup") + this->requestsTo("GET", "pageToken"), 3u);
}

TYPED_TEST(CloudScale, ALargeFileGoesUpInChunksResumesAfterBreaksAndComesBackWhole)
{
	const std::string bytes = randomBytes(1400 * 1024);
	// The second chunk's connection breaks after part of it arrived; a later one meets a busy
	// service that names its wait.
	this->account.service.server.addFault(
	    {"PUT", TypeParam::kChunkTarget, 1, std::nullopt, 100000, std::nullopt});
	this->account.service.server.addFault({"PUT", TypeParam::kChunkTarget, 1,
					       Reply{503, "busy", {"Retry-After: 2"}}, std::nullopt,
					       std::nullopt});
	std::vector<int32_t> percents;
	const std::string error = this->upload(
	    bytes, "obs-cloud-backup/media/1_show.mkv",
	    [&](const std::string &, int32_t percent, int32_t, int32_t) { percents.push_back(percent); });
	ASSERT_EQ(error, "");
	EXPECT_EQ(this->account.stored("obs-cloud-backup/media/1_show.mkv"), bytes);
	EXPECT_GE(this->requestsTo("PUT", TypeParam::kChunkTarget), 5u);
	ASSERT_GE(percents.size(), 3u);
	EXPECT_EQ(percents.front(), 0);
	EXPECT_EQ(percents.back(), 100);
	EXPECT_EQ(this->account.waits.size(), 2u) << "one wait after each break";
	EXPECT_EQ(this->account.waits.back(), 2s);

	// The download breaks off mid-way and resumes with a range.
	this->account.service.server.addFault(
	    {"GET", TypeParam::kContentTarget, 1, std::nullopt, std::nullopt, 500000});
	const fs::path restored = this->scratch / "restored/show.mkv";
	ASSERT_TRUE(this->account.provider.downloadFile("obs-cloud-backup/media/1_show.mkv",
							restored.string(), nullptr))
	    << this->account.provider.lastError();
	EXPECT_EQ(test::readFile(restored), bytes);
	const auto requests = this->account.service.server.requests();
	EXPECT_EQ(requests.back().header("Range"), "bytes=500000-");
}

TYPED_TEST(CloudScale, ABusyServiceIsWaitedForWithinBounds)
{
	this->account.plant("obs-cloud-backup/scenes", "a.json", "{}");
	Reply busy{429, "slow down", {"Retry-After: 3"}};
	this->account.service.server.addFault({"GET", "", 1, busy, std::nullopt, std::nullopt});
	std::vector<RemoteEntry> entries;
	ASSERT_TRUE(this->account.provider.listFolder("obs-cloud-backup/scenes", entries));
	ASSERT_EQ(this->account.waits.size(), 1u);
	EXPECT_EQ(this->account.waits[0], 3s);

	// A service that stays down fails the request after a bounded number of tries.
	this->account.waits.clear();
	const size_t before = this->account.service.server.requests().size();
	this->account.service.server.addFault(
	    {"GET", "", 100, Reply{503, "down"}, std::nullopt, std::nullopt});
	EXPECT_FALSE(this->account.provider.listFolder("obs-cloud-backup/scenes", entries));
	EXPECT_EQ(this->account.waits.size(), 5u);
	EXPECT_EQ(this->account.service.server.requests().size() - before, 6u);
	for (size_t i = 1; i < this->account.waits.size(); ++i)
		EXPECT_LE(this->account.waits[i], 60s);
}

TYPED_TEST(CloudScale, AnAccessTokenThatExpiresMidRunIsRefreshedOnce)
{
	this->account.service.expireAccessTokenAfter(4);
	for (int i = 0; i < 6; ++i)
		ASSERT_EQ(this->upload("scene " + std::to_string(i),
				       "obs-cloud-backup/scenes/" + std::to_string(i) + ".json"),
			  "");
	const std::string large = randomBytes(600 * 1024);
	ASSERT_EQ(this->upload(large, "obs-cloud-backup/media/big.bin"), "");
	EXPECT_EQ(this->account.service.refreshes, 1);
	EXPECT_EQ(this->account.stored("obs-cloud-backup/media/big.bin"), large);
}

TYPED_TEST(CloudScale, AFileThatChangesWhileItGoesUpIsNotStored)
{
	const fs::path local = this->scratch / "live.flv";
	test::writeFile(local, randomBytes(900 * 1024));
	bool touched = false;
	const bool stored = this->account.provider.uploadFile(
	    local.string(), "obs-cloud-backup/media/live.flv",
	    [&](const std::string &, int32_t percent, int32_t, int32_t) {
		    if (percent > 0 && !touched) {
			    touched = true;
			    std::ofstream(local, std::ios::binary | std::ios::app) << "more";
		    }
	    });
	EXPECT_FALSE(stored);
	EXPECT_NE(this->account.provider.lastError().find("changed while it was uploaded"), std::string::npos)
	    << this->account.provider.lastError();
	EXPECT_EQ(this->account.stored("obs-cloud-backup/media/live.flv"), "");

	// A session the service lost is opened anew and the file sent from the start.
	this->account.service.server.addFault(
	    {"PUT", TypeParam::kChunkTarget, 1, Reply{404, "gone"}, std::nullopt, std::nullopt});
	const std::string bytes = randomBytes(700 * 1024);
	ASSERT_EQ(this->upload(bytes, "obs-cloud-backup/media/again.flv"), "");
	EXPECT_EQ(this->account.stored("obs-cloud-backup/media/again.flv"), bytes);
}

} // namespace
} // namespace kestrel
