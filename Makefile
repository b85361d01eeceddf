# Single entry point for configuring, building, testing and running Zephro.
#   make deps           install missing Debian packages
#   make build          configure and build (build/)
#   make test           build and run the test suite
#   make test-sanitize  the same under AddressSanitizer + UBSan (build-sanitize/)
#   make run            build and run the main job
#   make bench          build the micro-benchmarks (Release, build-release/)

JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: deps build test test-sanitize test-threads fuzz run bench clean

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
# binary is built, so that none of them is skipped; finding no test fails.
test-threads: deps
	cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ \
	  -DZEPHRO_SANITIZE=thread -DZEPHRO_WERROR=OFF -DZEPHRO_BUILD_BENCH=OFF -DZEPHRO_BUILD_TOOLS=OFF $(CMAKE_FLAGS)
	cmake --build build-tsan -j $(JOBS)
	TSAN_OPTIONS=halt_on_error=1 ctest --test-dir build-tsan -L threads --no-tests=error --output-on-failure

# A short libFuzzer run over the parser (clang). The entropic schedule is
# off: with the tens of thousands of features an engine's code yields, its
# bookkeeping took nine tenths of each run (9 inputs a second instead of 80).
FUZZ_SECONDS ?= 60
fuzz: deps
	cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ \
	  -DZEPHRO_FUZZ=ON -DZEPHRO_WERROR=OFF -DZEPHRO_BUILD_TESTS=OFF -DZEPHRO_BUILD_TOOLS=OFF -DZEPHRO_BUILD_BENCH=OFF $(CMAKE_FLAGS)
	cmake --build build-fuzz -j $(JOBS)
	@for f in build-fuzz/tools/fuzz/*_fuzz; do \
	  echo "fuzzing with $$f for $(FUZZ_SECONDS) s"; \
	  mkdir -p build-fuzz/corpus/$$(basename $$f); \
	  $$f -max_total_time=$(FUZZ_SECONDS) -timeout=20 -max_len=4096 -print_final_stats=1 -entropic=0 \
	    build-fuzz/corpus/$$(basename $$f) tools/fuzz/corpus || exit 1; \
	done

# The main job: the shell on an example knowledge base.
run: build
	./build/zephro examples/diagnosis.clp

bench: deps
	cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DZEPHRO_BUILD_TESTS=OFF $(CMAKE_FLAGS)
	cmake --build build-release -j $(JOBS)

clean:
	rm -rf build build-sanitize build-release
