#include "delay/source-types.h"

#include "property-sheet.h"

#include <gtest/gtest.h>
#include <obs.hpp>

namespace kestrel {
namespace {

using test::describeProperties;
using Item = std::pair<std::string, std::string>;

TEST(PushToDelayMicSheet, ListsItsFiveSettingsInOrder)
{
	const auto rows = describeProperties(pushToDelayMicSourceInfo().get_properties(nullptr));
	ASSERT_EQ(rows.size(), 5u);

	EXPECT_EQ(rows[0].name, "delay_s");
	EXPECT_EQ(rows[0].label, "Delay");
	EXPECT_EQ(rows[0].type, OBS_PROPERTY_FLOAT);
	EXPECT_EQ(rows[0].min, 0.0);
	EXPECT_EQ(rows[0].max, 120.0);
	EXPECT_EQ(rows[0].step, 0.1);
	EXPECT_EQ(rows[0].suffix, " s");

	EXPECT_EQ(rows[1].name, "pd_vk");
	EXPECT_EQ(rows[1].label, "Tecla push-to-delay");
	ASSERT_EQ(rows[1].items.size(), 57u);
	EXPECT_EQ(rows[1].items[0], Item("Ninguna (usar solo el atajo de OBS)", "0"));
	EXPECT_EQ(rows[1].items[22], Item("V", "86"));
	EXPECT_EQ(rows[1].items[49], Item("Botón lateral del mouse 1 (X1)", "5"));
	EXPECT_EQ(rows[1].items[56], Item("Bloq Mayús", "20"));

	EXPECT_EQ(rows[2].name, "pd_live_priority");
	EXPECT_EQ(rows[2].type, OBS_PROPERTY_BOOL);
	EXPECT_EQ(rows[2].label, "Priorizar voz en vivo (baja la voz demorada mientras hablás)");

	EXPECT_EQ(rows[3].name, "pd_duck_db");
	EXPECT_EQ(rows[3].label, "Cuánto baja la voz demorada");
	EXPECT_EQ(rows[3].min, -60.0);
	EXPECT_EQ(rows[3].max, 0.0);
	EXPECT_EQ(rows[3].step, 0.5);
	EXPECT_EQ(rows[3].suffix, " dB");

	EXPECT_EQ(rows[4].name, "pd_info");
	EXPECT_EQ(
	    rows[4].text.rfind("Aplicalo al micrófono y elegí arriba tu tecla de push-to-talk del juego", 0),
	    0u);
	EXPECT_NE(
	    rows[4].text.find("al del video/audio.\nTambién podés asignar un atajo extra en OBS → Ajustes → "
			      "Atajos.\nCon \"Priorizar voz en vivo\""),
	    std::string::npos);
}

TEST(PushToDelayMicSheet, DefaultsAreTheVKeyAndLivePriorityAtMinus15Db)
{
	OBSDataAutoRelease settings = obs_data_create();
	pushToDelayMicSourceInfo().get_defaults(settings);
	EXPECT_EQ(obs_data_get_double(settings, "delay_s"), 20.0);
	EXPECT_EQ(obs_data_get_int(settings, "pd_vk"), 86);
	EXPECT_TRUE(obs_data_get_bool(settings, "pd_live_priority"));
	EXPECT_EQ(obs_data_get_double(settings, "pd_duck_db"), -15.0);
}

TEST(DuckingSheet, DefaultsMatchTheSliders)
{
	OBSDataAutoRelease settings = obs_data_create();
	duckingSourceInfo().get_defaults(settings);
	EXPECT_STREQ(obs_data_get_string(settings, "duck_sidechain"), "none");
	EXPECT_EQ(obs_data_get_double(settings, "duck_key_delay_s"), 20.0);
	EXPECT_EQ(obs_data_get_double(settings, "duck_threshold_db"), -45.0);
	EXPECT_EQ(obs_data_get_double(settings, "duck_amount_db"), -30.0);
	EXPECT_EQ(obs_data_get_int(settings, "duck_attack_ms"), 10);
	EXPECT_EQ(obs_data_get_int(settings, "duck_release_ms"), 150);
}

} // namespace
} // namespace kestrel
