#include "delay/keys/key-lists.h"

#include <gtest/gtest.h>

#include <set>

namespace kestrel {
namespace {

void expectSharedHead(const std::vector<KeyChoice> &keys, const std::string &none)
{
	ASSERT_GE(keys.size(), 49u);
	EXPECT_EQ(keys[0].label, none);
	EXPECT_EQ(keys[0].code, 0u);
	for (int i = 0; i < 26; ++i) {
		EXPECT_EQ(keys[1 + i].label, std::string(1, static_cast<char>('A' + i)));
		EXPECT_EQ(keys[1 + i].code, 65u + i);
	}
	for (int i = 0; i < 10; ++i) {
		EXPECT_EQ(keys[27 + i].label, std::to_string(i));
		EXPECT_EQ(keys[27 + i].code, 48u + i);
	}
	for (int i = 1; i <= 12; ++i) {
		EXPECT_EQ(keys[36 + i].label, "F" + std::to_string(i));
		EXPECT_EQ(keys[36 + i].code, 111u + i);
	}
}

void expectTail(const std::vector<KeyChoice> &keys, size_t from, const std::vector<KeyChoice> &tail)
{
	ASSERT_EQ(keys.size(), from + tail.size());
	for (size_t i = 0; i < tail.size(); ++i) {
		EXPECT_EQ(keys[from + i].label, tail[i].label);
		EXPECT_EQ(keys[from + i].code, tail[i].code);
	}
	std::set<uint32_t> codes;
	for (const KeyChoice &key : keys)
		EXPECT_TRUE(codes.insert(key.code).second) << "code " << key.code << " offered twice";
}

TEST(KeyLists, FilterListEndsWithMouseButtonsModifiersAndSpace)
{
	const auto keys = filterKeyChoices();
	expectSharedHead(keys, "Ninguna (usar solo el atajo de OBS)");
	expectTail(keys, 49,
		   {{"Botón lateral del mouse 1 (X1)", 5},
		    {"Botón lateral del mouse 2 (X2)", 6},
		    {"Ctrl", 17},
		    {"Alt", 18},
		    {"Shift", 16},
		    {"Espacio", 32}});
}

TEST(KeyLists, PushToDelayListAddsTabAndCapsLockToTheFilterList)
{
	const auto keys = pushToDelayKeyChoices();
	const auto filterKeys = filterKeyChoices();
	ASSERT_EQ(keys.size(), 57u);
	for (size_t i = 0; i < filterKeys.size(); ++i)
		EXPECT_EQ(keys[i].label, filterKeys[i].label);
	expectTail(keys, 55, {{"Tab", 9}, {"Bloq Mayús", 20}});
}

TEST(KeyLists, DelaySwitchListUsesTheDialogsNoneTextAndEnglishNames)
{
	const auto keys = delaySwitchKeyChoices("なし（OBS のショートカットのみ）");
	expectSharedHead(keys, "なし（OBS のショートカットのみ）");
	expectTail(keys, 49,
		   {{"Mouse X1", 5},
		    {"Mouse X2", 6},
		    {"Ctrl", 17},
		    {"Alt", 18},
		    {"Shift", 16},
		    {"Space", 32},
		    {"Tab", 9},
		    {"CapsLock", 20}});
}

} // namespace
} // namespace kestrel
