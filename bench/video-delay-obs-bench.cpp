// The video delay inside a headless libobs at 60 fps with game-like frames, next to OBS's own
// "Render Delay" (gpu_delay, raw frames, at most 500 ms) at its maximum. The benchmark thread
// renders the filtered source once per output frame inside the graphics context, as OBS's
// graphics thread would, and times that render against the same source without a filter.
#include "game-frame.h"
#include "obs-harness.h"
#include "support/obs-log-capture.h"

#include <benchmark/benchmark.h>

#include <util/bmem.h>
#include <util/platform.h>

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace kestrel::bench {
namespace {

using test::ObsHarness;

constexpr uint32_t kFps = 60;
constexpr int kGameFrames = 4;

// An input that shows a new game-like frame at every video tick, from textures made once.
struct GameSource {
	uint32_t width = 0, height = 0;
	std::vector<gs_texture_t *> textures;
	uint32_t tick = 0;
};

void *gameCreate(obs_data_t *settings, obs_source_t *)
{
	auto *game = new GameSource;
	game->width = static_cast<uint32_t>(obs_data_get_int(settings, "width"));
	game->height = static_cast<uint32_t>(obs_data_get_int(settings, "height"));
	obs_enter_graphics();
	for (uint32_t i = 0; i < kGameFrames; ++i) {
		const std::vector<uint8_t> pixels = gameFrame(game->width, game->height, i * 7);
		const uint8_t *planes[] = {pixels.data()};
		game->textures.push_back(gs_texture_create(game->width, game->height, GS_RGBA, 1, planes, 0));
	}
	obs_leave_graphics();
	return game;
}

void gameDestroy(void *data)
{
	auto *game = static_cast<GameSource *>(data);
	obs_enter_graphics();
	for (gs_texture_t *texture : game->textures)
		gs_texture_destroy(texture);
	obs_leave_graphics();
	delete game;
}

void gameRender(void *data, gs_effect_t *)
{
	auto *game = static_cast<GameSource *>(data);
	gs_texture_t *texture = game->textures[game->tick % game->textures.size()];
	gs_effect_t *effect = obs_get_base_effect(OBS_EFFECT_DEFAULT);
	gs_effect_set_texture(gs_effect_get_param_by_name(effect, "image"), texture);
	while (gs_effect_loop(effect, "Draw"))
		gs_draw_sprite(texture, 0, game->width, game->height);
}

void registerGameSource()
{
	obs_source_info info{};
	info.id = "kestrel_bench_game";
	info.type = OBS_SOURCE_TYPE_INPUT;
	info.output_flags = OBS_SOURCE_VIDEO | OBS_SOURCE_CUSTOM_DRAW;
	info.get_name = [](void *) { return "game"; };
	info.create = gameCreate;
	info.destroy = gameDestroy;
	info.video_tick = [](void *data, float) { ++static_cast<GameSource *>(data)->tick; };
	info.video_render = gameRender;
	info.get_width = [](void *data) { return static_cast<GameSource *>(data)->width; };
	info.get_height = [](void *data) { return static_cast<GameSource *>(data)->height; };
	obs_register_source(&info);
}

double residentMB()
{
	std::ifstream status("/proc/self/status");
	std::string line;
	while (std::getline(status, line))
		if (line.rfind("VmRSS:", 0) == 0)
			return std::stod(line.substr(6)) / 1024.0;
	return 0.0;
}

double cpuSeconds(int who)
{
	rusage usage{};
	getrusage(who, &usage);
	return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
	       static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct Run {
	std::vector<double> renderMs; // per frame, after the warm-up
	double processCores = 0, renderThreadCores = 0;
	double renderCpuMsPerFrame = 0; // CPU of the rendering thread itself; llvmpipe draws on others
	double residentGrowthMB = 0;
};

// Renders `source` into a canvas once per output frame for `seconds`, timing every render.
Run renderFor(obs_source_t *source, uint32_t width, uint32_t height, double seconds)
{
	Run run;
	obs_enter_graphics();
	gs_texrender_t *canvas = gs_texrender_create(GS_RGBA, GS_ZS_NONE);
	obs_leave_graphics();
	const double residentStart = residentMB();
	const double processStart = cpuSeconds(RUSAGE_SELF), threadStart = cpuSeconds(RUSAGE_THREAD);
	const auto start = std::chrono::steady_clock::now();
	const auto frame = std::chrono::nanoseconds(1'000'000'000 / kFps);
	const auto frames = static_cast<int>(seconds * kFps);
	for (int i = 0; i < frames; ++i) {
		std::this_thread::sleep_until(start + i * frame);
		obs_enter_graphics();
		const uint64_t before = os_gettime_ns();
		gs_texrender_reset(canvas);
		if (gs_texrender_begin(canvas, width, height)) {
			vec4 black{};
			gs_clear(GS_CLEAR_COLOR, &black, 0.0f, 0);
			gs_ortho(0.0f, static_cast<float>(width), 0.0f, static_cast<float>(height), -100.0f,
				 100.0f);
			obs_source_video_render(source);
			gs_texrender_end(canvas);
		}
		gs_flush();
		const uint64_t after = os_gettime_ns();
		obs_leave_graphics();
		if (i >= static_cast<int>(kFps)) // the first second creates the GPU objects
			run.renderMs.push_back(static_cast<double>(after - before) / 1e6);
	}
	const double elapsed =
	    std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
	run.processCores = (cpuSeconds(RUSAGE_SELF) - processStart) / elapsed;
	run.renderThreadCores = (cpuSeconds(RUSAGE_THREAD) - threadStart) / elapsed;
	run.renderCpuMsPerFrame = (cpuSeconds(RUSAGE_THREAD) - threadStart) * 1e3 / frames;
	run.residentGrowthMB = residentMB() - residentStart;
	obs_enter_graphics();
	gs_texrender_destroy(canvas);
	obs_leave_graphics();
	return run;
}

double mean(const std::vector<double> &values)
{
	double sum = 0;
	for (double value : values)
		sum += value;
	return values.empty() ? 0.0 : sum / static_cast<double>(values.size());
}

double percentile(std::vector<double> values, double share)
{
	if (values.empty())
		return 0.0;
	std::sort(values.begin(), values.end());
	return values[static_cast<size_t>(share * static_cast<double>(values.size() - 1))];
}

// The encoder-lagging line comes at drops 1, 121, 241...: the count it last reported.
double droppedFrames(const test::ObsLogCapture &log)
{
	double dropped = 0;
	for (const std::string &line : log.linesContaining("encoder lagging, dropped ")) {
		unsigned long long count = 0;
		if (std::sscanf(line.c_str() + line.find("dropped ") + 8, "%llu", &count) == 1)
			dropped = std::max(dropped, static_cast<double>(count));
	}
	return dropped;
}

enum Filter { kNone = 0, kKestrel = 1, kRenderDelay = 2 };

// Arguments: output height (720 or 1080), filter (none, Kestrel's video delay at 20 s, OBS's
// Render Delay at 500 ms).
void BM_DelayInObs(benchmark::State &state)
{
	const auto height = static_cast<uint32_t>(state.range(0));
	const uint32_t width = height * 16 / 9;
	const auto filter = static_cast<Filter>(state.range(1));
	if (!ObsHarness::setVideo(width, height, kFps)) {
		state.SkipWithError("no OpenGL video here");
		return;
	}
	for (auto _ : state) {
		test::ObsLogCapture log;
		OBSDataAutoRelease gameSettings = obs_data_create();
		obs_data_set_int(gameSettings, "width", width);
		obs_data_set_int(gameSettings, "height", height);
		OBSSourceAutoRelease game =
		    obs_source_create("kestrel_bench_game", "game", gameSettings, nullptr);
		OBSSourceAutoRelease delay;
		if (filter == kKestrel) {
			OBSDataAutoRelease settings = obs_data_create();
			obs_data_set_double(settings, "delay_s", 20.0);
			delay = obs_source_create_private("orv_screen_delay_video", "delay", settings);
		} else if (filter == kRenderDelay) {
			OBSDataAutoRelease settings = obs_data_create();
			obs_data_set_int(settings, "delay_ms", 500);
			delay = obs_source_create_private("gpu_delay", "delay", settings);
		}
		if (delay)
			obs_source_filter_add(game, delay);
		// The Kestrel ring fills for 20 s; the others reach their steady state within a second.
		const Run run = renderFor(game, width, height, filter == kKestrel ? 21.0 : 6.0);
		state.counters["render_ms_mean"] = mean(run.renderMs);
		state.counters["render_ms_p99"] = percentile(run.renderMs, 0.99);
		state.counters["process_cores"] = run.processCores;
		state.counters["render_thread_cores"] = run.renderThreadCores;
		state.counters["render_cpu_ms"] = run.renderCpuMsPerFrame;
		state.counters["memory_MB"] = run.residentGrowthMB;
		state.counters["dropped"] = droppedFrames(log);
		state.counters["raw_20s_MB"] = 20.0 * kFps * width * height * 4 / 1e6;
		if (delay)
			obs_source_filter_remove(game, delay);
		obs_source_remove(game);
	}
}

BENCHMARK(BM_DelayInObs)
    ->ArgNames({"height", "filter"})
    ->ArgsProduct({{720, 1080}, {kNone, kKestrel, kRenderDelay}})
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kSecond);

} // namespace
} // namespace kestrel::bench

int main(int argc, char **argv)
{
	benchmark::Initialize(&argc, argv);
	std::string error;
	if (!kestrel::test::ObsHarness::start(error) ||
	    !kestrel::test::ObsHarness::loadObsPlugin("obs-filters")) {
		std::fprintf(stderr, "libobs harness did not start: %s\n", error.c_str());
		return 1;
	}
	kestrel::bench::registerGameSource();
	benchmark::RunSpecifiedBenchmarks();
	kestrel::test::ObsHarness::stop();
	return 0;
}
