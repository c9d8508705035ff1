#include "common/log.h"

#include "support/log-capture.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace kestrel {
namespace {

TEST(LogSink, LinesCarryThePrefixAndLevelAndAreDroppedWithoutASink)
{
	KESTREL_LOG(Info, "before any sink %d", 1);
	{
		test::LogCapture log;
		KESTREL_LOG(Warning, "skipped %s (%zu)", "intro.mp4", size_t{3});
		KESTREL_LOG(Error, "plain");
		ASSERT_EQ(log.lines().size(), 2u);
		EXPECT_TRUE(log.contains(LogLevel::Warning, "[Kestrel] skipped intro.mp4 (3)"));
		EXPECT_TRUE(log.contains(LogLevel::Error, "[Kestrel] plain"));
	}
	LogSink sink = nullptr;
	void *context = nullptr;
	currentLogSink(&sink, &context);
	EXPECT_EQ(sink, nullptr) << "the capture put the previous sink back";
}

TEST(LogSink, AnInnerCaptureTakesTheLinesAndHandsTheSinkBack)
{
	test::LogCapture outer;
	{
		test::LogCapture inner;
		KESTREL_LOG(Info, "inner");
		EXPECT_EQ(inner.lines().size(), 1u);
	}
	KESTREL_LOG(Info, "outer");
	ASSERT_EQ(outer.lines().size(), 1u);
	EXPECT_EQ(outer.lines()[0].text, "[Kestrel] outer");
}

TEST(LogSink, LinesFromManyThreadsAllArriveWhole)
{
	test::LogCapture log;
	std::vector<std::thread> threads;
	for (int t = 0; t < 4; ++t)
		threads.emplace_back([t] {
			for (int i = 0; i < 200; ++i)
				KESTREL_LOG(Debug, "thread %d line %d", t, i);
		});
	for (auto &thread : threads)
		thread.join();
	EXPECT_EQ(log.lines().size(), 800u);
	EXPECT_EQ(log.linesContaining("thread 3 line 199").size(), 1u);
}

} // namespace
} // namespace kestrel
