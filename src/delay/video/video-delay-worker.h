#pragma once

#include "delay/video/frame-codec.h"
#include "delay/video/packet-ring.h"
#include "delay/video/worker-load.h"

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace kestrel {

// An RGBA image with rows tightly packed and the capture time (ns) of the frame it shows.
struct RawFrame {
	std::vector<uint8_t> pixels;
	uint32_t width = 0;
	uint32_t height = 0;
	uint64_t captureTimestamp = 0;
};

// The settings the worker reads for every frame; written from the filter's update.
struct VideoDelaySettings {
	uint64_t delayNs = 0;
	int quality = 3;
	bool full444 = false;
	int engine = FrameCodec::kEngineMjpeg;
	// Software H.264 only: the ring's memory budget, which its quality adapts to. 0 = none.
	uint64_t memoryBudgetBytes = 0;
};

// The CPU half of a video delay: a thread that compresses captured frames into a ring of
// packets and decompresses the newest one that is at least the delay old (for software H.264,
// every packet in order up to it). The graphics thread hands frames over and takes decoded
// ones back; only compressed packets wait out the delay.
class VideoDelayWorker {
public:
	using Clock = uint64_t (*)(); // the clock of the capture timestamps, in ns

	// Room for the spike of a key frame's encode meeting the decoder's first frame (about 80 ms
	// at 1080p with H.264), and for grainy 1080p60 within a memory budget, whose encode and
	// decode take nine tenths of each frame's time on two cores: five frames of slack dropped a
	// few frames a minute there.
	static constexpr size_t kCaptureQueueLimit = 8;
	// Every queued frame plus the one being encoded comes back, so the graphics thread never
	// allocates in steady state.
	static constexpr size_t kBufferPoolLimit = kCaptureQueueLimit + 1;
	static constexpr uint64_t kLagLogEvery = 120;
	static constexpr uint64_t kRingCapBytes = 1500ull << 20;
	// Share of a memory budget the encoder aims at: the rest absorbs a group that overspends
	// before its quantiser is corrected.
	static constexpr double kBudgetAim = 0.9;

	struct Stats {
		size_t queuedFrames = 0;
		size_t ringPackets = 0;
		uint64_t ringBytes = 0;
		uint64_t droppedFrames = 0;
		uint64_t encodedFrames = 0;
		uint64_t decodedFrames = 0;
		uint64_t decodedTimestamp = 0;
		// Capture time the ring spans, and the delay it would span at the cap at the current
		// bytes per second (0 until the ring spans some time).
		uint64_t heldNs = 0;
		uint64_t fitNs = 0;
		// The cap is cutting the delay short: the picture runs ahead of what was asked for.
		bool capLimited = false;
		int engineInUse = -1; // FrameCodec's engine numbers; -1 before the first encode
		// The memory budget the ring keeps to, 0 when the engine in use has none, the bit rate
		// that asks of the encoder, and how close the picture comes back from the ring (dB), 0
		// until measured.
		uint64_t budgetBytes = 0;
		uint64_t targetBitRate = 0; // what the encoder is asked to keep to, bits per second
		double psnrDb = 0;
	};

	// What software H.264 may spend so that `ring`, held for the delay plus the group being
	// decoded, stays within the budget's aim; the packets held now count until they leave.
	static uint64_t budgetBitRate(const PacketRing &ring, uint64_t budgetBytes, uint64_t delayNs,
				      uint64_t now);

	explicit VideoDelayWorker(Clock now, FrameCodecOptions codecOptions = {},
				  uint64_t ringCapBytes = kRingCapBytes);
	~VideoDelayWorker();
	VideoDelayWorker(const VideoDelayWorker &) = delete;
	VideoDelayWorker &operator=(const VideoDelayWorker &) = delete;

	// False when the thread cannot be started. Stopping waits for a running encode or decode.
	bool start();
	void stop();

	void applySettings(const VideoDelaySettings &settings);

	// Graphics thread: a recycled buffer for the next read-back, then the frame itself.
	std::vector<uint8_t> takeBuffer();
	void submitRawFrame(RawFrame frame);
	// Swaps the newest decoded image into `display` when it is not the one already shown there
	// (display.captureTimestamp); the displaced buffer is reused for the next decode.
	bool takeDecodedFrame(RawFrame &display);
	// Forgets every frame captured so far: nothing from before the call is decoded or offered.
	void resetPipeline();

	Stats stats() const;

private:
	// Fixed slots reused in turn, so handing a frame over never allocates on the graphics thread.
	class FrameQueue {
	public:
		bool empty() const { return size_ == 0; }
		size_t size() const { return size_; }
		void push(RawFrame &&frame) { slots_[(head_ + size_++) % slots_.size()] = std::move(frame); }
		RawFrame pop()
		{
			RawFrame frame = std::move(slots_[head_]);
			head_ = (head_ + 1) % slots_.size();
			--size_;
			return frame;
		}

	private:
		std::array<RawFrame, kCaptureQueueLimit> slots_;
		size_t head_ = 0;
		size_t size_ = 0;
	};

	void run();
	void encodeNext(std::unique_lock<std::mutex> &lock, FrameCodec &codec);
	uint64_t targetBitRate(uint64_t now);
	void expireAndCap(uint64_t now);
	void noteCapLimit(bool limited);
	uint64_t fitNs() const;
	void decodeDue(std::unique_lock<std::mutex> &lock, FrameCodec &codec, uint64_t now);
	void recycle(std::vector<uint8_t> &&buffer);
	static uint64_t nsSince(std::chrono::steady_clock::time_point began);
	void prepareDecodeBuffers(size_t bytes);
	void closeLoadWindow();

	const Clock now_;
	const FrameCodecOptions codecOptions_;
	const uint64_t ringCapBytes_;

	mutable std::mutex lock_;
	std::condition_variable wake_;
	bool stopRequested_ = false;
	VideoDelaySettings settings_;
	FrameQueue captureQueue_;
	std::vector<std::vector<uint8_t>> bufferPool_;
	uint64_t droppedFrames_ = 0;
	PacketRing ring_;
	RawFrame decoded_; // captureTimestamp 0 = none
	// Time of the last reset: a packet of an older frame, finished by an encode that ran across
	// the reset (or held back by the encoder), is discarded.
	uint64_t notBefore_ = 0;
	// Counts resets, so an image decoded across one is discarded.
	uint64_t resets_ = 0;
	// Set by a reset: the next frame encoded starts a group of its own.
	bool keyFrameWanted_ = false;
	bool encodeFailedLogged_ = false;
	bool capLogged_ = false;
	bool capLimited_ = false;
	int engineInUse_ = -1;
	double psnrDb_ = 0;
	// The bit rate last worked out for the budget, when, and the frame counts then: a scan of the
	// whole ring, done a few times a second rather than for every frame.
	uint64_t targetBitRate_ = 0;
	uint64_t targetWorkedOutAt_ = 0;
	uint64_t encodedAtTarget_ = 0;
	uint64_t droppedAtTarget_ = 0;
	uint64_t encodedFrames_ = 0;
	uint64_t decodedFrames_ = 0;
	// Wall-clock time spent encoding and decoding, in windows of a second.
	WorkerLoad workLoad_;
	std::chrono::steady_clock::time_point loadWindowStart_ = std::chrono::steady_clock::now();

	// Touched by the worker thread only: the packet being decoded, the image it becomes, and a
	// spare for when the buffer a shown image gives back is empty.
	std::vector<uint8_t> decodeInput_;
	std::vector<uint8_t> decodeOutput_;
	std::vector<uint8_t> decodeSpare_;

	std::thread thread_;
};

} // namespace kestrel
