#include "delay/audio/push-to-delay-mic.h"
#include "delay/audio/sidechain-ducker.h"

#include "stereo-packet.h"
#include "worst-call.h"

#include <benchmark/benchmark.h>

#include <cstring>

namespace {

using namespace kestrel::bench;

// The filters work in place, so each packet starts from a fresh copy of the same sound; that
// copy is the BM_MemcpySamePacket figure and is included here.
void refresh(StereoPacket &packet, const StereoPacket &sound)
{
	std::memcpy(packet.left.data(), sound.left.data(), kFrames * sizeof(float));
	std::memcpy(packet.right.data(), sound.right.data(), kFrames * sizeof(float));
}

// Steady state of a 20 s push-to-delay: the lines are full before timing starts. Held, the
// voice goes into the lines; up, silence does and the voice stays live.
void BM_PushToDelayMic20s(benchmark::State &state)
{
	const bool held = state.range(0) != 0;
	kestrel::PushToDelayMic mic(kRate);
	mic.configure({20.0, 0, true, -15.0});
	mic.setHotkeyHeld(held);
	StereoPacket sound, packet;
	while (mic.queuedFrames() < mic.delayFrames()) {
		refresh(packet, sound);
		mic.process(packet.planes, kFrames, false);
	}
	const uint64_t allocationsBefore = allocationCount();
	for (auto _ : state) {
		refresh(packet, sound);
		mic.process(packet.planes, kFrames, false);
		benchmark::DoNotOptimize(packet.left.data());
		benchmark::ClobberMemory();
	}
	setAllocationsPerPacket(state, allocationsBefore);
	setSamplesProcessed(state);
}
BENCHMARK(BM_PushToDelayMic20s)->ArgName("held")->Arg(0)->Arg(1);

// Held, so the voice goes into the lines; their storage is made by configure, outside the timing.
void BM_PushToDelayMicWorstCallWhile120sFills(benchmark::State &state)
{
	StereoPacket sound, packet;
	WorstCalls calls;
	for (auto _ : state) {
		kestrel::PushToDelayMic mic(kRate);
		mic.configure({120.0, 0, true, -15.0});
		mic.setHotkeyHeld(true);
		calls.measure([&] {
			refresh(packet, sound);
			mic.process(packet.planes, kFrames, false);
			benchmark::ClobberMemory();
		});
	}
	calls.report(state);
}
BENCHMARK(BM_PushToDelayMicWorstCallWhile120sFills)->Iterations(5)->Unit(benchmark::kMillisecond);

// Steady state of a ducking filter keyed by a 20 s delayed key that is loud enough to duck:
// one key packet captured and one packet of sound ducked per iteration.
void BM_Ducking20sKey(benchmark::State &state)
{
	kestrel::SidechainDucker ducker;
	ducker.configure({kRate, 20.0, -45.0, -30.0, 10, 150});
	StereoPacket key, sound, packet;
	for (uint64_t pushed = 0; pushed <= 20 * kRate; pushed += kFrames)
		ducker.pushKey(key.planes, kFrames, false);
	const uint64_t allocationsBefore = allocationCount();
	for (auto _ : state) {
		refresh(packet, sound);
		ducker.pushKey(key.planes, kFrames, false);
		ducker.process(packet.planes, kFrames, true, false);
		benchmark::DoNotOptimize(packet.left.data());
		benchmark::ClobberMemory();
	}
	setAllocationsPerPacket(state, allocationsBefore);
	setSamplesProcessed(state);
}
BENCHMARK(BM_Ducking20sKey);

} // namespace
