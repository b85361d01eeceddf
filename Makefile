# Single entry point for configuring, building, testing and running Zephro.
#   make deps           install missing Debian packages
#   make build          configure and build (build/)
#   make test           build and run the test suite
#   make test-sanitize  the same under AddressSanitizer + UBSan (build-sanitize/)
#   make run            build and run the main job
#   make bench          build the micro-benchmarks (Release, build-release/)
#   make fuzz           run each libFuzzer target for FUZZ_SECONDS (build-fuzz/)

JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: deps build test test-sanitize test-threads fuzz fuzz-build fuzz-dictionary run bench clean

deps:
	@bash .ci/install-deps.sh

build: deps
	cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)
	cmake --build build -j $(JOBS)

test: build
	ctest --test-dir build -j $(JOBS) --output-on-failure

test-sanitize: deps
	cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug \
	  -DZEPHRO_SANITIZE=address,undefined -DZEPHRO_BUILD_BENCH=OFF -DZEPHRO_DEBUG_CHECKS=ON $(CMAKE_FLAGS)
	cmake --build build-sanitize -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --test-dir build-sanitize -j $(JOBS) --output-on-failure

# The tests of concurrent use (ctest label threads: suites named
# *ThreadsTest, in any test binary), under ThreadSanitizer (clang). Every test
# binary that holds such a suite is built, found by the suite's name, so that
# none is skipped; finding no test fails.
THREAD_TEST_TARGETS = $(sort $(foreach f,$(shell grep -l 'ThreadsTest' tests/*/*.cc),$(word 2,$(subst /, ,$(f)))_tests))

test-threads: deps
	cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ \
	  -DZEPHRO_SANITIZE=thread -DZEPHRO_WERROR=OFF -DZEPHRO_BUILD_BENCH=OFF -DZEPHRO_BUILD_TOOLS=OFF $(CMAKE_FLAGS)
	cmake --build build-tsan -j $(JOBS) --target $(THREAD_TEST_TARGETS)
	TSAN_OPTIONS=halt_on_error=1 ctest --test-dir build-tsan -L threads --no-tests=error --output-on-failure

# A short libFuzzer run of each target (clang): the scanner, loading, loading
# and running within the engine's limits, parse -> print -> parse, component
# streams and facts from JSON. The
# entropic schedule is off: with the tens of thousands of features an
# engine's code yields, its bookkeeping took nine tenths of each run (9 inputs
# a second instead of 80). Findings are written to build-fuzz/findings/.
FUZZ_SECONDS ?= 60
FUZZ_TARGETS ?= clips_stream_fuzz parse_fuzz run_fuzz roundtrip_fuzz component_stream_fuzz \
  facts_json_fuzz
fuzz-build: deps
	cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ \
	  -DZEPHRO_FUZZ=ON -DZEPHRO_WERROR=OFF -DZEPHRO_BUILD_TESTS=OFF -DZEPHRO_BUILD_TOOLS=OFF -DZEPHRO_BUILD_BENCH=OFF $(CMAKE_FLAGS)
	cmake --build build-fuzz -j $(JOBS)

fuzz: fuzz-build
	@mkdir -p build-fuzz/findings
	@for t in $(FUZZ_TARGETS); do \
	  echo "fuzzing with $$t for $(FUZZ_SECONDS) s"; \
	  mkdir -p build-fuzz/corpus/$$t; \
	  build-fuzz/tools/fuzz/$$t -max_total_time=$(FUZZ_SECONDS) -timeout=20 -max_len=4096 \
	    -rss_limit_mb=2048 -print_final_stats=1 -entropic=0 -dict=tools/fuzz/zephro.dict \
	    -artifact_prefix=build-fuzz/findings/$$t- \
	    build-fuzz/corpus/$$t tools/fuzz/corpus || exit 1; \
	done

# Regenerates the fuzzers' dictionary from an engine's function table.
fuzz-dictionary: fuzz-build
	build-fuzz/tools/fuzz/make_dictionary > tools/fuzz/zephro.dict

# The main job: the shell on an example knowledge base.
# The main job needs only the shell.
run: deps
	cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)
	cmake --build build -j $(JOBS) --target zephro_shell
	./build/zephro examples/diagnosis.clp

bench: deps
	cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DZEPHRO_BUILD_TESTS=OFF -DZEPHRO_BUILD_PYTHON=OFF $(CMAKE_FLAGS)
	cmake --build build-release -j $(JOBS)

clean:
	rm -rf build build-sanitize build-release
