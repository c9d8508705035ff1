#include "filtered-source.h"
#include "held-key-span.h"
#include "obs-harness.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

namespace kestrel::test {
namespace {

// This program runs on a private X server (see CMakeLists.txt): xdotool presses keys there
// through XTEST as a keyboard would, and the plug-in reads the whole display's key state.
void pressKey(const char *key, bool down)
{
	const std::string command = std::string("xdotool ") + (down ? "keydown " : "keyup ") + key;
	ASSERT_EQ(std::system(command.c_str()), 0) << command;
	// The plug-in polls the display every 10 ms; the feeding waits, so the change lands
	// exactly between two packets.
	std::this_thread::sleep_for(std::chrono::milliseconds(60));
}

TEST(PushToDelayKeyInObs, PolledKeyHeldForASpanDelaysExactlyThatSpan)
{
	FilteredSource mic("orv_push_to_delay", pushToDelaySettings(86)); // V
	mic.attachFilter();
	const HeldKeySpan span = measureHeldKeySpan(mic.source(), [](bool held) { pressKey("v", held); });
	expectHeldSpanDelayedExactly(span);
}

TEST(PushToDelayKeyInObs, NoKeyChosenMeansTheKeyboardIsIgnored)
{
	FilteredSource mic("orv_push_to_delay", pushToDelaySettings(0));
	mic.attachFilter();
	const HeldKeySpan span = measureHeldKeySpan(mic.source(), [](bool held) { pressKey("v", held); });
	EXPECT_EQ(span.liveSilentFrom, -1) << "the voice stayed live";
	EXPECT_EQ(span.delayedFrom, -1) << "nothing was delayed";
}

} // namespace
} // namespace kestrel::test
