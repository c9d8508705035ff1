#pragma once

#include "stereo-packet.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <limits>
#include <numeric>
#include <vector>

namespace kestrel::bench {

// OBS's audio thread must never stall, so what counts is the worst single call: while a 120 s
// delay fills from empty (its first 120 s of packets) and once it is full, with the heap
// allocations made in each stretch. Every run repeats the same sequence of calls; each call's
// time is its best over the runs, so the machine's other work preempting one run does not
// count, while whatever a call costs every time (a copy, a page fault, an allocation) does.
class WorstCalls {
public:
	static constexpr int kFillCalls = 120 * kRate / kFrames;
	static constexpr int kSteadyCalls = 4000;

	// Times `call` (one packet through the filter) over a whole fill and then a steady stretch.
	template <class Call> void measure(Call call)
	{
		uint64_t before = allocationCount();
		for (double &best : fill_)
			best = std::min(best, timed(call));
		fillAllocations_ += allocationCount() - before;
		before = allocationCount();
		for (double &best : steady_)
			best = std::min(best, timed(call));
		steadyAllocations_ += allocationCount() - before;
		++runs_;
	}

	void report(benchmark::State &state) const
	{
		state.counters["worst_fill_us"] = *std::max_element(fill_.begin(), fill_.end()) / 1000;
		state.counters["worst_steady_us"] = *std::max_element(steady_.begin(), steady_.end()) / 1000;
		state.counters["mean_steady_us"] =
		    std::accumulate(steady_.begin(), steady_.end(), 0.0) / kSteadyCalls / 1000;
		state.counters["fill_allocs"] = static_cast<double>(fillAllocations_) / runs_;
		state.counters["steady_allocs"] = static_cast<double>(steadyAllocations_) / runs_;
	}

private:
	template <class Call> static double timed(Call call)
	{
		const auto start = std::chrono::steady_clock::now();
		call();
		return std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start)
		    .count();
	}

	std::vector<double> fill_ = std::vector<double>(kFillCalls, std::numeric_limits<double>::max());
	std::vector<double> steady_ = std::vector<double>(kSteadyCalls, std::numeric_limits<double>::max());
	uint64_t fillAllocations_ = 0, steadyAllocations_ = 0;
	double runs_ = 0;
};

} // namespace kestrel::bench
