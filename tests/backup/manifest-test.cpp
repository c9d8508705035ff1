#include "backup/manifest.h"

#include <gtest/gtest.h>

#include <cctype>

namespace kestrel {
namespace {

BackupEntry entry(const std::string &name, int64_t size)
{
	return {name, "obs-cloud-backup/scenes/" + name, "/home/al/.config/obs-studio/basic/scenes/" + name,
		size};
}

bool operator==(const BackupEntry &a, const BackupEntry &b)
{
	return a.name == b.name && a.remotePath == b.remotePath && a.originalLocal == b.originalLocal &&
	       a.size == b.size;
}

TEST(Manifest, EmptyListsAreWrittenAndReadBack)
{
	BackupManifest manifest;
	manifest.createdAt = "2026-03-01T18:05:09Z";
	manifest.obsVersion = "29.0.2";
	manifest.providerName = "Local Folder";
	const std::string text = manifestToJson(manifest);
	EXPECT_EQ(text, "{\n"
			"  \"createdAt\": \"2026-03-01T18:05:09Z\",\n"
			"  \"mediaFiles\": [],\n"
			"  \"obsVersion\": \"29.0.2\",\n"
			"  \"profiles\": [],\n"
			"  \"providerName\": \"Local Folder\",\n"
			"  \"sceneCollections\": []\n"
			"}");
	const BackupManifest back = manifestFromJson(text);
	EXPECT_EQ(back.createdAt, manifest.createdAt);
	EXPECT_EQ(back.obsVersion, manifest.obsVersion);
	EXPECT_EQ(back.providerName, manifest.providerName);
	EXPECT_TRUE(back.sceneCollections.empty() && back.profiles.empty() && back.mediaFiles.empty());
}

TEST(Manifest, EntriesKeepKeyOrderRawUtf8AndLargeSizes)
{
	BackupManifest manifest;
	manifest.sceneCollections = {entry("Escena \u00f1 \u2603.json", 5000000000), entry("b.json", -1)};
	manifest.mediaFiles = {entry("bad\xff.png", 7)};
	const std::string text = manifestToJson(manifest);
	EXPECT_NE(
	    text.find("    {\n      \"name\": \"Escena \u00f1 \u2603.json\",\n      \"originalLocal\": "),
	    std::string::npos)
	    << text;
	EXPECT_NE(text.find("\"remotePath\": \"obs-cloud-backup/scenes/b.json\",\n      \"size\": -1"),
		  std::string::npos);
	EXPECT_NE(text.find("bad\xef\xbf\xbd.png"), std::string::npos) << "invalid UTF-8 becomes U+FFFD";
	const BackupManifest back = manifestFromJson(text);
	ASSERT_EQ(back.sceneCollections.size(), 2u);
	EXPECT_TRUE(back.sceneCollections[0] == manifest.sceneCollections[0]);
	EXPECT_EQ(back.sceneCollections[0].size, 5000000000);
	EXPECT_EQ(back.sceneCollections[1].size, -1);
	ASSERT_EQ(back.mediaFiles.size(), 1u);
	EXPECT_EQ(back.mediaFiles[0].name, "bad\xef\xbf\xbd.png");
}

// A manifest comes from a sync peer: one that is not whole restores nothing, and says why.
TEST(Manifest, DamagedTextIsAnErrorNamingTheFirstProblem)
{
	const std::string entries = R"("sceneCollections": [{"name": "a.json", "size": 3}, )";
	for (const auto &[text, problem] : std::vector<std::pair<std::string, std::string>>{
		 {"not json", "not valid JSON: parse error at line 1, column 2"},
		 {"[1,2]", "the manifest is array, not an object"},
		 {R"({"createdAt": "t", "sceneCollections": [{"name": "a.json"}])",
		  "not valid JSON: parse error at line 1, column 60"},
		 {"{\"createdAt\": \"\xff\"}", "not valid JSON: parse error at line 1, column 16"},
		 {R"({"providerName": 5})", R"("providerName" is number, not a string)"},
		 {R"({"profiles": {}})", R"("profiles" is object, not an array)"},
		 {"{" + entries + R"(7]})", R"("sceneCollections" entry 2: number, not an object)"},
		 {"{" + entries + R"({"size": 1e999}]})", "not valid JSON: number overflow parsing '1e999'"},
		 {"{" + entries + R"({"size": "12"}]})",
		  R"("sceneCollections" entry 2: "size" is string, not a number)"},
		 {"{" + entries + R"({"modified": null}]})",
		  R"("sceneCollections" entry 2: "modified" is null, not a number)"},
		 {"{" + entries + R"({"size": 2.5}]})",
		  R"("sceneCollections" entry 2: "size" is 2.5, not a whole number in range)"},
		 {"{" + entries + R"({"sha256": ["x"]}]})",
		  R"("sceneCollections" entry 2: "sha256" is array, not a string)"}}) {
		try {
			manifestFromJson(text);
			ADD_FAILURE() << "read without an error: " << text;
		} catch (const DamagedManifest &damage) {
			EXPECT_EQ(std::string(damage.what()).rfind(problem, 0), 0u) << damage.what();
		}
	}

	const BackupManifest missing = manifestFromJson(
	    R"({"mediaFiles": [{"name": "m", "size": 12}, {"name": "n"}, {"name": "o", "size": -7},
		{"name": "p", "size": 0}], "future": 1})");
	ASSERT_EQ(missing.mediaFiles.size(), 4u);
	EXPECT_EQ(missing.mediaFiles[0].size, 12);
	EXPECT_EQ(missing.mediaFiles[1].size, -1) << "a missing size is unknown";
	EXPECT_EQ(missing.mediaFiles[1].originalLocal, "");
	EXPECT_EQ(missing.mediaFiles[2].size, -1) << "any negative size is unknown";
	EXPECT_EQ(missing.mediaFiles[3].size, 0);
	EXPECT_TRUE(missing.sceneCollections.empty());
}

TEST(Manifest, TimestampIsUtcToTheSecond)
{
	// Shape YYYY-MM-DDThh:mm:ssZ, checked character by character.
	const std::string stamp = currentTimestamp();
	const std::string shape = "dddd-dd-ddTdd:dd:ddZ";
	ASSERT_EQ(stamp.size(), shape.size()) << stamp;
	for (size_t i = 0; i < shape.size(); ++i) {
		if (shape[i] == 'd')
			EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(stamp[i]))) << stamp;
		else
			EXPECT_EQ(stamp[i], shape[i]) << stamp;
	}
	EXPECT_EQ(stamp.substr(0, 2), "20");

	using namespace std::chrono;
	const auto read = timestampTime(stamp);
	ASSERT_TRUE(read);
	EXPECT_LE(system_clock::now() - *read, seconds(2));
	EXPECT_EQ(timestampTime("2026-03-01T18:05:09Z")->time_since_epoch(), seconds(1772388309));
	for (const char *notOne : {"", "2026-03-01T18:05:09", "2026-02-30T18:05:09Z", "2026-03-01T24:05:09Z",
				   "2026-03-01T18:05:09Zx", "undated"})
		EXPECT_FALSE(timestampTime(notOne)) << notOne;
}

} // namespace
} // namespace kestrel
