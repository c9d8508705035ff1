#include "obs-harness.h"

#include <gtest/gtest.h>

#include <util/bmem.h>

#include <cstdio>

// One libobs per test program: started before the first test, shut down after the last, and
// the program fails if libobs reports memory still allocated at the end.
int main(int argc, char **argv)
{
	testing::InitGoogleTest(&argc, argv);
	std::string error;
	if (!kestrel::test::ObsHarness::start(error)) {
		std::fprintf(stderr, "libobs harness did not start: %s\n", error.c_str());
		return 1;
	}
	const int result = RUN_ALL_TESTS();
	kestrel::test::ObsHarness::stop();
	const long leaks = bnum_allocs();
	if (leaks != 0) {
		std::fprintf(stderr, "libobs reports %ld allocations still held after shutdown\n", leaks);
		return 1;
	}
	return result;
}
