#include "delay/video/video-delay-worker.h"

#include "support/log-capture.h"
#include "test-images.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

namespace kestrel {
namespace {

using namespace std::chrono_literals;
using Stats = VideoDelayWorker::Stats;

constexpr uint64_t kMs = 1'000'000;
constexpr uint32_t kWidth = 64;
constexpr uint32_t kHeight = 48;

uint64_t nowNs()
{
	return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
					 std::chrono::steady_clock::now().time_since_epoch())
					 .count());
}

RawFrame frameAt(uint64_t captureTimestamp, uint32_t width = kWidth, uint32_t height = kHeight)
{
	return {test::testImage(width, height, static_cast<uint32_t>(captureTimestamp)), width, height,
		captureTimestamp};
}

VideoDelaySettings withDelay(uint64_t delayNs)
{
	VideoDelaySettings settings;
	settings.delayNs = delayNs;
	settings.memoryBudgetBytes = 1024 << 20; // steers software H.264 only
	return settings;
}

// Polls until the condition holds or the (generous, sanitizer-proof) time runs out.
template <typename Condition> bool eventually(Condition condition, std::chrono::milliseconds limit = 5s)
{
	const auto end = std::chrono::steady_clock::now() + limit;
	while (!condition()) {
		if (std::chrono::steady_clock::now() > end)
			return false;
		std::this_thread::sleep_for(1ms);
	}
	return true;
}

// Submits one frame and waits until the worker has encoded it, so none is dropped.
void submitAndWait(VideoDelayWorker &worker, RawFrame frame)
{
	const uint64_t before = worker.stats().encodedFrames;
	worker.submitRawFrame(std::move(frame));
	ASSERT_TRUE(eventually([&] { return worker.stats().encodedFrames > before; }));
}

// A frame the libavcodec JPEG path takes tens of milliseconds on, to catch the worker mid-encode.
RawFrame slowFrame(uint64_t captureTimestamp)
{
	return frameAt(captureTimestamp, 3840, 2160);
}

FrameCodecOptions slowCodec()
{
	FrameCodecOptions options;
	options.jpegLibrary = JpegLibrary::LibAvCodec;
	return options;
}

TEST(VideoDelayWorker, NothingIsOfferedBeforeTheDelayHasPassed)
{
	VideoDelayWorker worker(nowNs);
	worker.applySettings(withDelay(200 * kMs));
	ASSERT_TRUE(worker.start());
	const uint64_t captured = nowNs();
	worker.submitRawFrame(frameAt(captured));
	RawFrame display;
	ASSERT_TRUE(eventually([&] { return worker.takeDecodedFrame(display); }));
	EXPECT_GE(nowNs() - captured, 200 * kMs);
	EXPECT_EQ(display.captureTimestamp, captured);
	EXPECT_EQ(display.width, kWidth);
	EXPECT_EQ(display.height, kHeight);
	EXPECT_EQ(display.pixels.size(), size_t{kWidth} * kHeight * 4);
	EXPECT_FALSE(worker.takeDecodedFrame(display)) << "the same frame is handed over once";
	EXPECT_EQ(worker.stats().budgetBytes, 0u) << "JPEG has no memory budget";
}

TEST(VideoDelayWorker, OffersTheNewestFrameThatIsAtLeastTheDelayOld)
{
	VideoDelayWorker worker(nowNs);
	worker.applySettings(withDelay(200 * kMs));
	ASSERT_TRUE(worker.start());
	const uint64_t base = nowNs();
	for (uint64_t i = 0; i < 10; ++i)
		submitAndWait(worker, frameAt(base + i * 10 * kMs));
	// Ten frames 10 ms apart; once the last is due, it alone is left and on offer.
	ASSERT_TRUE(eventually([&] { return nowNs() > base + 320 * kMs; }));
	RawFrame display;
	ASSERT_TRUE(eventually([&] { return worker.stats().decodedTimestamp == base + 90 * kMs; }));
	ASSERT_TRUE(worker.takeDecodedFrame(display));
	EXPECT_EQ(display.captureTimestamp, base + 90 * kMs);
	EXPECT_EQ(worker.stats().ringPackets, 1u);
}

TEST(VideoDelayWorker, LoweringTheDelayJumpsForwardAndRaisingItHolds)
{
	VideoDelayWorker worker(nowNs);
	worker.applySettings(withDelay(2000 * kMs));
	ASSERT_TRUE(worker.start());
	const uint64_t base = nowNs() - 500 * kMs;
	for (uint64_t i = 0; i < 10; ++i)
		submitAndWait(worker, frameAt(base + i * 10 * kMs));
	EXPECT_EQ(worker.stats().decodedFrames, 0u);

	worker.applySettings(withDelay(100 * kMs));
	RawFrame display;
	ASSERT_TRUE(eventually([&] { return worker.takeDecodedFrame(display); }));
	EXPECT_EQ(display.captureTimestamp, base + 90 * kMs) << "the newest due frame, not the oldest";
	EXPECT_EQ(worker.stats().decodedFrames, 1u);

	worker.applySettings(withDelay(5000 * kMs));
	submitAndWait(worker, frameAt(nowNs()));
	std::this_thread::sleep_for(200ms);
	EXPECT_FALSE(worker.takeDecodedFrame(display)) << "the current image stays on offer";
	EXPECT_EQ(worker.stats().decodedTimestamp, base + 90 * kMs);
	EXPECT_EQ(worker.stats().ringPackets, 2u);
}

TEST(VideoDelayWorker, RingCapDropsTheOldestPacketsAndLogsOnce)
{
	test::LogCapture log;
	std::vector<uint8_t> probe;
	uint64_t stamp = 0;
	FrameCodec codec;
	const RawFrame sample = frameAt(1);
	ASSERT_TRUE(codec.encode(sample.pixels.data(), kWidth, kHeight, 3, false, 0, 1, probe, stamp));
	// Room for about three packets of this size.
	VideoDelayWorker worker(nowNs, {}, probe.size() * 3 + probe.size() / 2);
	worker.applySettings(withDelay(60'000 * kMs));
	ASSERT_TRUE(worker.start());
	const uint64_t base = nowNs();
	for (uint64_t i = 0; i < 8; ++i)
		submitAndWait(worker, frameAt(base + i));
	ASSERT_TRUE(eventually([&] { return worker.stats().ringPackets <= 3; }));
	const Stats stats = worker.stats();
	EXPECT_GE(stats.ringPackets, 2u);
	EXPECT_LE(stats.ringBytes, probe.size() * 3 + probe.size() / 2);
	EXPECT_EQ(log.linesContaining("ring hit the 1.5 GB cap").size(), 1u);

	// The kept packets are the newest: with no delay the last frame is the one decoded.
	worker.applySettings(withDelay(0));
	ASSERT_TRUE(eventually([&] { return worker.stats().decodedTimestamp == base + 7; }));
}

TEST(VideoDelayWorker, CapKeepsOnePacketEvenWhenItAloneIsTooLarge)
{
	VideoDelayWorker worker(nowNs, {}, 1);
	worker.applySettings(withDelay(60'000 * kMs));
	ASSERT_TRUE(worker.start());
	for (uint64_t i = 1; i <= 3; ++i)
		submitAndWait(worker, frameAt(i));
	ASSERT_TRUE(eventually([&] { return worker.stats().ringPackets == 1; }));
}

TEST(VideoDelayWorker, QueueDropsAreCountedAndLoggedEvery120)
{
	test::LogCapture log;
	VideoDelayWorker worker(nowNs); // not started: nothing drains the queue
	constexpr uint64_t queued = VideoDelayWorker::kCaptureQueueLimit;
	for (uint64_t i = 1; i <= 125 + queued; ++i)
		worker.submitRawFrame(frameAt(i));
	EXPECT_EQ(worker.stats().queuedFrames, queued);
	EXPECT_EQ(worker.stats().droppedFrames, 125u);
	const auto lines = log.linesContaining("encoder lagging");
	ASSERT_EQ(lines.size(), 2u);
	EXPECT_NE(lines[0].find("dropped 1 frame(s)"), std::string::npos) << lines[0];
	EXPECT_NE(lines[1].find("dropped 121 frame(s)"), std::string::npos) << lines[1];

	// Dropped frames return their buffers to a bounded pool.
	for (size_t i = 0; i < VideoDelayWorker::kBufferPoolLimit; ++i)
		EXPECT_EQ(worker.takeBuffer().size(), size_t{kWidth} * kHeight * 4);
	EXPECT_TRUE(worker.takeBuffer().empty());
}

TEST(VideoDelayWorker, ResetDiscardsQueuedFramesAndStartsBufferingAgain)
{
	test::LogCapture log;
	VideoDelayWorker worker(nowNs);
	worker.applySettings(withDelay(0));
	worker.submitRawFrame(frameAt(nowNs()));
	worker.submitRawFrame(frameAt(nowNs()));
	worker.resetPipeline();
	ASSERT_TRUE(worker.start());
	std::this_thread::sleep_for(100ms);
	EXPECT_EQ(worker.stats().encodedFrames, 0u);
	RawFrame display;
	EXPECT_FALSE(worker.takeDecodedFrame(display));

	submitAndWait(worker, frameAt(nowNs()));
	ASSERT_TRUE(eventually([&] { return worker.takeDecodedFrame(display); }));
	worker.resetPipeline();
	EXPECT_FALSE(worker.takeDecodedFrame(display));
	EXPECT_EQ(worker.stats().ringPackets, 0u);
	submitAndWait(worker, frameAt(nowNs()));
	EXPECT_EQ(log.linesContaining("buffering started @ 64x48 via mjpeg").size(), 2u);
}

TEST(VideoDelayWorker, FrameBeingEncodedDuringAResetIsNotShownAfterIt)
{
	VideoDelayWorker worker(nowNs, slowCodec());
	worker.applySettings(withDelay(0));
	ASSERT_TRUE(worker.start());
	worker.submitRawFrame(slowFrame(nowNs()));
	ASSERT_TRUE(eventually([&] { return worker.stats().queuedFrames == 0; }));
	worker.resetPipeline();
	ASSERT_TRUE(eventually([&] { return worker.stats().encodedFrames == 1; }));
	std::this_thread::sleep_for(50ms);
	RawFrame display;
	EXPECT_FALSE(worker.takeDecodedFrame(display));
	EXPECT_EQ(worker.stats().ringPackets, 0u);
}

TEST(VideoDelayWorker, StoppingWaitsForTheRunningEncode)
{
	VideoDelayWorker worker(nowNs, slowCodec());
	worker.applySettings(withDelay(60'000 * kMs));
	ASSERT_TRUE(worker.start());
	worker.submitRawFrame(slowFrame(nowNs()));
	ASSERT_TRUE(eventually([&] { return worker.stats().queuedFrames == 0; }));
	worker.stop();
	const Stats stats = worker.stats();
	EXPECT_EQ(stats.encodedFrames, 1u);
	EXPECT_EQ(stats.ringPackets, 1u);
}

TEST(VideoDelayWorker, EncodeFailureIsLoggedOnceUntilAFrameSucceeds)
{
	test::LogCapture log;
	VideoDelayWorker worker(nowNs);
	worker.applySettings(withDelay(60'000 * kMs));
	ASSERT_TRUE(worker.start());
	auto truncated = [] {
		RawFrame frame = frameAt(nowNs());
		frame.pixels.resize(frame.pixels.size() / 2);
		return frame;
	};
	auto passes = [&](RawFrame frame) {
		worker.submitRawFrame(std::move(frame));
		ASSERT_TRUE(eventually([&] { return worker.stats().queuedFrames == 0; }));
		std::this_thread::sleep_for(20ms);
	};
	passes(truncated());
	passes(truncated());
	EXPECT_EQ(log.linesContaining("encode failed (64x48)").size(), 1u);
	submitAndWait(worker, frameAt(nowNs()));
	passes(truncated());
	EXPECT_EQ(log.linesContaining("encode failed (64x48)").size(), 2u);
	EXPECT_EQ(worker.stats().ringPackets, 1u);
}

// The software engine's groups under a clock the test moves: frames half a second apart, so a
// key frame opens every fourth packet (every two seconds of capture time).
class InOrderDecoding : public ::testing::Test {
protected:
	static constexpr uint64_t kStep = 500 * kMs;
	static constexpr uint64_t kDelay = 1000 * kMs;
	static constexpr uint64_t kStart = 100'000 * kMs;

	static uint64_t clock() { return now.load(); }
	static uint64_t at(uint64_t frame) { return kStart + frame * kStep; }
	// Each frame a flat shade of its own, so a P-frame decoded on the wrong reference shows.
	static uint8_t shadeOf(uint64_t frame) { return static_cast<uint8_t>(30 + frame * 17 % 200); }

	void SetUp() override
	{
		if (!avcodec_find_encoder_by_name("libx264"))
			GTEST_SKIP() << "this FFmpeg has no libx264";
		now = kStart;
	}

	void start(uint64_t ringCapBytes = VideoDelayWorker::kRingCapBytes)
	{
		worker = std::make_unique<VideoDelayWorker>(clock, FrameCodecOptions{}, ringCapBytes);
		VideoDelaySettings settings = withDelay(kDelay);
		settings.engine = FrameCodec::kEngineSoftwareH264;
		settings.memoryBudgetBytes = 64 << 20;
		worker->applySettings(settings);
		ASSERT_TRUE(worker->start());
	}

	void submit(uint64_t frame)
	{
		RawFrame raw{std::vector<uint8_t>(size_t{kWidth} * kHeight * 4, shadeOf(frame)), kWidth,
			     kHeight, at(frame)};
		submitAndWait(*worker, std::move(raw));
	}

	// Moves the clock to when `frame` is due and checks that exactly it is shown, with its
	// own shade, after `decodes` packets were decoded in all.
	void expectShownWhenDue(uint64_t frame, uint64_t decodes)
	{
		now = at(frame) + kDelay;
		ASSERT_TRUE(eventually([&] { return worker->stats().decodedTimestamp == at(frame); }))
		    << "frame " << frame;
		RawFrame display;
		ASSERT_TRUE(worker->takeDecodedFrame(display));
		EXPECT_NEAR(display.pixels[size_t{kWidth} * kHeight * 2], shadeOf(frame), 3)
		    << "frame " << frame;
		EXPECT_EQ(worker->stats().decodedFrames, decodes) << "frame " << frame;
	}

	static inline std::atomic<uint64_t> now{0};
	test::LogCapture log;
	std::unique_ptr<VideoDelayWorker> worker;
};

TEST_F(InOrderDecoding, EveryPacketIsDecodedOnceInOrderAcrossGroups)
{
	start();
	for (uint64_t frame = 0; frame < 12; ++frame)
		submit(frame);
	EXPECT_EQ(worker->stats().decodedFrames, 0u);
	expectShownWhenDue(0, 1);
	expectShownWhenDue(1, 2);
	// A jump forward passes over the rest of the first group and decodes the second from its
	// key frame up to the frame now due.
	expectShownWhenDue(6, 5);
	for (uint64_t frame = 7; frame < 12; ++frame)
		expectShownWhenDue(frame, frame - 1);
	// Groups leave whole once the next key frame is due: the last one stays.
	const Stats stats = worker->stats();
	EXPECT_EQ(stats.ringPackets, 4u);
	EXPECT_EQ(stats.heldNs, 3 * kStep);
	EXPECT_GT(stats.fitNs, 1000 * stats.heldNs) << "tiny frames: far more than the delay fits";
	EXPECT_FALSE(stats.capLimited);
	EXPECT_EQ(stats.engineInUse, FrameCodec::kEngineSoftwareH264);
	EXPECT_EQ(stats.budgetBytes, 64u << 20);
	EXPECT_GT(stats.psnrDb, 30.0);
	EXPECT_EQ(log.linesContaining("via libx264").size(), 1u);
}

// Frames 30 a second under heavy grain, far more than the budget holds at the quality asked
// for: the quantiser gives way instead of the delay.
TEST_F(InOrderDecoding, GrainyFramesKeepToTheBudgetForTheWholeDelay)
{
	constexpr uint64_t frameNs = 33'333'334, delay = 3000 * kMs, budget = 150'000;
	worker = std::make_unique<VideoDelayWorker>(clock);
	VideoDelaySettings settings = withDelay(delay);
	settings.engine = FrameCodec::kEngineSoftwareH264;
	settings.memoryBudgetBytes = budget;
	worker->applySettings(settings);
	ASSERT_TRUE(worker->start());
	uint32_t noise = 1;
	const auto grainyFrameAt = [&](uint64_t time) {
		RawFrame raw = frameAt(time);
		for (size_t i = 0; i < raw.pixels.size(); ++i) {
			noise = noise * 1103515245u + 12345u;
			raw.pixels[i] =
			    static_cast<uint8_t>(std::clamp(raw.pixels[i] + int(noise >> 27) - 16, 0, 255));
		}
		return raw;
	};
	// What a frame costs at the quality asked for, without a budget.
	FrameCodec codec;
	std::vector<uint8_t> packet;
	for (uint64_t frame = 0, timestamp = 0; frame < 5; ++frame) {
		const RawFrame raw = grainyFrameAt(kStart + frame * frameNs);
		ASSERT_TRUE(codec.encode(raw.pixels.data(), raw.width, raw.height, settings.quality, false,
					 settings.engine, raw.captureTimestamp, packet, timestamp));
	}
	EXPECT_GT(packet.size() * 30 * 5, budget) << "at quality 3 the delay would not fit";
	uint64_t peak = 0;
	for (uint64_t frame = 0; frame < 360; ++frame) {
		now = kStart + frame * frameNs;
		submitAndWait(*worker, grainyFrameAt(now));
		peak = std::max(peak, worker->stats().ringBytes);
	}
	const Stats stats = worker->stats();
	EXPECT_LE(peak, budget);
	EXPECT_GE(stats.heldNs, delay) << "the whole delay is held";
	EXPECT_FALSE(stats.capLimited);
	EXPECT_EQ(stats.droppedFrames, 0u);
	EXPECT_GT(stats.decodedFrames, 200u);
}

// An encoder that cannot keep up must not be asked for dearer frames: the share of the budget
// that dropped frames would have spent goes unspent.
TEST_F(InOrderDecoding, DroppedFramesLowerTheBitRateAskedOfTheEncoder)
{
	worker = std::make_unique<VideoDelayWorker>(clock);
	VideoDelaySettings settings = withDelay(10'000 * kMs);
	settings.engine = FrameCodec::kEngineSoftwareH264;
	settings.memoryBudgetBytes = 64 << 20;
	worker->applySettings(settings);
	const double fullRate = 0.9 * (64 << 20) * 8 / 12.0; // the aim over the delay and a group
	for (uint64_t frame = 0; frame < VideoDelayWorker::kCaptureQueueLimit + 15; ++frame)
		worker->submitRawFrame(frameAt(at(frame)));
	ASSERT_TRUE(worker->start());
	ASSERT_TRUE(eventually([&] { return worker->stats().queuedFrames == 0; }));
	EXPECT_NEAR(static_cast<double>(worker->stats().targetBitRate), fullRate / 4, fullRate / 100)
	    << "fifteen frames of sixteen dropped: the least share";

	now = at(10);
	submit(10);
	EXPECT_NEAR(static_cast<double>(worker->stats().targetBitRate), fullRate, fullRate / 100)
	    << "none dropped since";
}

TEST_F(InOrderDecoding, ResetMidGroupStartsANewGroupAtOnce)
{
	start();
	for (uint64_t frame = 0; frame < 3; ++frame)
		submit(frame);
	expectShownWhenDue(1, 2);
	worker->resetPipeline();
	// The clock reads at(3): frame 3 is newer than the reset but falls within the old group's
	// two seconds, so without a fresh key frame it could never be decoded.
	submit(3);
	submit(4);
	expectShownWhenDue(3, 3);
	expectShownWhenDue(4, 4);
}

TEST_F(InOrderDecoding, CapDropsTheOldestWholeGroupAndDecodingResumesAtTheNextKeyFrame)
{
	start(1); // any second group puts the ring over the cap
	for (uint64_t frame = 0; frame < 3; ++frame)
		submit(frame);
	expectShownWhenDue(1, 2);
	EXPECT_FALSE(worker->stats().capLimited) << "one group alone is never cut";

	submit(3);
	submit(4); // key frame of the second group: the first, half decoded, goes whole
	ASSERT_TRUE(eventually([&] { return worker->stats().ringPackets == 1; }));
	EXPECT_TRUE(worker->stats().capLimited);
	EXPECT_EQ(worker->stats().fitNs, 0u) << "nothing spans time within one byte";
	EXPECT_EQ(log.linesContaining("ring hit the 1.5 GB cap").size(), 1u);
	const auto fit = log.linesContaining("of the 1.0 s delay fit in 0 MB");
	ASSERT_EQ(fit.size(), 1u);
	EXPECT_NE(fit[0].find("only 0.0 s"), std::string::npos) << fit[0];

	submit(5);
	expectShownWhenDue(5, 4); // frames 2 and 3 were never decoded
}

// Decoding failures are rare and cannot be provoked through the worker, so the ring that
// steers it is driven directly here.
TEST(PacketRing, AFailedPacketSkipsToTheNextKeyFrameAndAFailedKeyFrameIsRetried)
{
	PacketRing ring;
	auto packet = [](uint64_t timestamp, bool key) { return RingPacket{{1, 2, 3}, timestamp, key}; };
	ring.push(packet(1, false)); // cut off from its key frame: never decoded
	for (uint64_t t = 10; t < 20; ++t)
		ring.push(packet(t, t == 10 || t == 15));
	EXPECT_EQ(ring.bytes(), 33u);
	const RingPacket *next = ring.nextDue(12, 0);
	ASSERT_NE(next, nullptr);
	EXPECT_EQ(next->timestamp, 10u);
	ring.markDecoded();
	ASSERT_NE(next = ring.nextDue(12, 0), nullptr);
	EXPECT_EQ(next->timestamp, 11u);
	ring.markFailed();
	EXPECT_EQ(ring.nextDue(14, 0), nullptr) << "the rest of the group is passed over";
	ASSERT_NE(next = ring.nextDue(15, 0), nullptr);
	EXPECT_EQ(next->timestamp, 15u);
	ring.markFailed();
	ASSERT_NE(next = ring.nextDue(15, 0), nullptr);
	EXPECT_EQ(next->timestamp, 15u) << "a key frame is tried again";
	ring.markDecoded();

	ring.expire(16, 0);
	EXPECT_EQ(ring.size(), 5u) << "everything before the newest due key frame went";
	EXPECT_EQ(ring.dropOldestGroupsOver(0), 0u) << "the only group is kept whole";
	ring.push(packet(20, true));
	EXPECT_EQ(ring.dropOldestGroupsOver(3), 5u);
	EXPECT_EQ(ring.size(), 1u);
	ASSERT_NE(next = ring.nextDue(20, 0), nullptr);
	EXPECT_EQ(next->timestamp, 20u) << "decoding restarts at the key frame left first";
}

} // namespace
} // namespace kestrel
