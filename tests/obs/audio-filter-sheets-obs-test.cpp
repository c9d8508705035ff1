#include "../delay/property-sheet.h"
#include "filtered-source.h"
#include "obs-harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace kestrel::test {
namespace {

using Item = std::pair<std::string, std::string>;

bool listed(const std::vector<Item> &items, const std::string &name)
{
	return std::find(items.begin(), items.end(), Item(name, name)) != items.end();
}

// List A of the key choices: no key, A-Z, 0-9, F1-F12, the mouse side buttons, Ctrl, Alt,
// Shift and Space, each with its Windows virtual-key code.
std::vector<Item> filterKeyList()
{
	std::vector<Item> items{{"Ninguna (usar solo el atajo de OBS)", "0"}};
	for (int letter = 'A'; letter <= 'Z'; ++letter)
		items.emplace_back(std::string(1, static_cast<char>(letter)), std::to_string(letter));
	for (int digit = '0'; digit <= '9'; ++digit)
		items.emplace_back(std::string(1, static_cast<char>(digit)), std::to_string(digit));
	for (int f = 1; f <= 12; ++f)
		items.emplace_back("F" + std::to_string(f), std::to_string(111 + f));
	items.insert(items.end(), {{"Botón lateral del mouse 1 (X1)", "5"},
				   {"Botón lateral del mouse 2 (X2)", "6"},
				   {"Ctrl", "17"},
				   {"Alt", "18"},
				   {"Shift", "16"},
				   {"Espacio", "32"}});
	return items;
}

uint32_t pictureSize(void *)
{
	return 16;
}

// An input with a picture and no sound, which a ducking key list must leave out.
const char *registerPictureSource()
{
	static const char *id = [] {
		obs_source_info info{};
		info.id = "kestrel_test_picture";
		info.type = OBS_SOURCE_TYPE_INPUT;
		info.output_flags = OBS_SOURCE_VIDEO;
		info.get_name = [](void *) { return "Kestrel test picture"; };
		info.create = [](obs_data_t *, obs_source_t *source) -> void * { return source; };
		info.destroy = [](void *) {};
		info.get_width = pictureSize;
		info.get_height = pictureSize;
		info.video_render = [](void *, gs_effect_t *) {};
		obs_register_source(&info);
		return info.id;
	}();
	return id;
}

TEST(AudioFiltersInObs, PushToDelaySheetOffersListBWithItsCodes)
{
	const auto rows = describeProperties(obs_get_source_properties("orv_push_to_delay"));
	ASSERT_EQ(rows.size(), 5u);
	const std::vector<std::string> names{"delay_s", "pd_vk", "pd_live_priority", "pd_duck_db", "pd_info"};
	for (size_t i = 0; i < names.size(); ++i)
		EXPECT_EQ(rows[i].name, names[i]);
	EXPECT_EQ(rows[0].label, "Delay");
	EXPECT_EQ(rows[1].label, "Tecla push-to-delay");
	EXPECT_EQ(rows[1].type, OBS_PROPERTY_LIST);
	std::vector<Item> listB = filterKeyList();
	listB.insert(listB.end(), {{"Tab", "9"}, {"Bloq Mayús", "20"}});
	EXPECT_EQ(rows[1].items, listB);
	EXPECT_EQ(rows[2].type, OBS_PROPERTY_BOOL);
	EXPECT_EQ(rows[3].label, "Cuánto baja la voz demorada");
	EXPECT_EQ(rows[3].suffix, " dB");
	EXPECT_EQ(rows[4].type, OBS_PROPERTY_TEXT);
	EXPECT_FALSE(rows[4].text.empty());

	OBSDataAutoRelease defaults = obs_get_source_defaults("orv_push_to_delay");
	EXPECT_EQ(obs_data_get_int(defaults, "pd_vk"), 86);
	EXPECT_EQ(obs_data_get_double(defaults, "delay_s"), 20.0);
}

TEST(AudioFiltersInObs, DuckingSheetListsSourcesWithSoundButNotItsOwn)
{
	NamedSource mic("Kestrel sheet mic");
	NamedSource picture("Kestrel sheet picture", registerPictureSource());
	const auto rows = describeProperties(obs_get_source_properties("orv_screen_delay_duck"));
	ASSERT_EQ(rows.size(), 7u);
	const std::vector<std::pair<std::string, std::string>> labels{
	    {"duck_sidechain", "Micrófono (clave)"},
	    {"duck_key_delay_s", "Delay de la clave (= delay del audio)"},
	    {"duck_threshold_db", "Umbral"},
	    {"duck_amount_db", "Atenuación"},
	    {"duck_attack_ms", "Ataque"},
	    {"duck_release_ms", "Liberación"},
	    {"duck_info",
	     "Poné este filtro DESPUÉS de \"Screen Delay (audio)\" y elegí tu micrófono como clave. "
	     "Igualá el delay de la clave al delay del audio."}};
	for (size_t i = 0; i < labels.size(); ++i) {
		EXPECT_EQ(rows[i].name, labels[i].first);
		EXPECT_EQ(rows[i].label, labels[i].second);
	}
	ASSERT_FALSE(rows[0].items.empty());
	EXPECT_EQ(rows[0].items[0], Item("None", "none"));
	EXPECT_TRUE(listed(rows[0].items, "Kestrel sheet mic"));
	EXPECT_FALSE(listed(rows[0].items, "Kestrel sheet picture"));
	EXPECT_EQ(rows[1].max, 120.0);
	EXPECT_EQ(rows[1].suffix, " s");
	EXPECT_EQ(rows[2].min, -60.0);
	EXPECT_EQ(rows[2].step, 0.5);
	EXPECT_EQ(rows[4].type, OBS_PROPERTY_INT);
	EXPECT_EQ(rows[4].max, 500.0);
	EXPECT_EQ(rows[5].max, 2000.0);
	EXPECT_EQ(rows[5].step, 10.0);
	EXPECT_EQ(rows[6].text, rows[6].label);

	// On an instance the list leaves out the source the filter sits on.
	NamedSource program("Kestrel sheet program");
	OBSSourceAutoRelease filter = obs_source_create_private("orv_screen_delay_duck", "ducking", nullptr);
	obs_source_filter_add(program.get(), filter);
	const auto own = describeProperties(obs_source_properties(filter));
	EXPECT_TRUE(listed(own[0].items, "Kestrel sheet mic"));
	EXPECT_FALSE(listed(own[0].items, "Kestrel sheet program"));
	obs_source_filter_remove(program.get(), filter);
}

} // namespace
} // namespace kestrel::test
