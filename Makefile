# SPDX-License-Identifier: GPL-3.0-or-later
# Entry points for people: `make test` and `make run` do all the set-up on a fresh Debian 12 machine.
JOBS ?= $(shell nproc)
SAMPLE_URL ?= https://www.amazon.com/dp/B0CX23V2ZK/ref=sr_1_3?tag=deals-20&utm_source=newsletter&keywords=usb+cable

.PHONY: deps test test-tsan test-sweeps run run-tool bench bench-smoke bench-cli fuzz fuzz-smoke format format-check tidy clean

deps:
	./scripts/install-deps

# The whole suite under AddressSanitizer and UndefinedBehaviorSanitizer, with assertions on and
# warnings as errors: one build that answers all three, so CI compiles the product's tests once.
# (The `dev` preset is the unsanitised debug build for working in a debugger.)
test: deps
	cmake --preset asan
	cmake --build --preset asan -j $(JOBS)
	ctest --preset asan -j $(JOBS)

# Only the test programs that use threads are built, and only their threaded tests run.
test-tsan: deps
	cmake --preset tsan
	cmake --build --preset tsan -j $(JOBS)
	ctest --preset tsan -j $(JOBS)

# The tray application, optimised, in the foreground: quit it from its tray menu ("Quit Tessaril")
# or with Ctrl+C. The command-line tool is built beside it.
run: deps
	cmake --preset release
	cmake --build --preset release -j $(JOBS) --target tessaril-app tessaril
	./build/release/app/tessaril-app

# The command-line tool on a sample link: its version, the cleaned link and the rules that applied.
run-tool: deps
	cmake --preset release
	cmake --build --preset release -j $(JOBS) --target tessaril
	./build/release/cli/tessaril --version
	./build/release/cli/tessaril '$(SAMPLE_URL)'
	./build/release/cli/tessaril rules explain '$(SAMPLE_URL)'

bench: deps
	cmake --preset release
	cmake --build --preset release -j $(JOBS)
	./build/release/bench/tessaril_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true

# Every benchmark once and briefly, so that none stops building or running; the times are not judged.
# A benchmark that cannot set itself up (missing rules, an unexpected outcome) fails the target, and
# so does RE2 answering the first 2,000 corpus lines differently from the engine.
bench-smoke: deps
	cmake --preset release
	cmake --build --preset release -j $(JOBS) --target tessaril_bench tessaril_regex_engine_bench
	./build/release/bench/tessaril_regex_engine_bench --check --lines 2000
	./build/release/bench/tessaril_bench --benchmark_min_time=0.01 > build/release/bench-smoke.txt
	./build/release/bench/tessaril_regex_engine_bench --lines 2000 --benchmark_min_time=0.01 >> build/release/bench-smoke.txt
	cat build/release/bench-smoke.txt
	! grep -q 'ERROR OCCURRED' build/release/bench-smoke.txt

# The exhaustive sweeps whole, which takes an optimised build (`make test` runs a sample of each):
# the cleaner against its plain reference on every benchmark-corpus line, and every shipped Command
# Guard pattern against hostile texts. A missing corpus fails here, not skips.
test-sweeps: deps
	cmake --preset release
	cmake --build --preset release -j $(JOBS) --target tests_sweeps
	ctest --preset release -L sweeps -j $(JOBS) > build/release/test-sweeps.txt || { cat build/release/test-sweeps.txt; false; }
	cat build/release/test-sweeps.txt
	! grep -q 'Skipped' build/release/test-sweeps.txt

# The whole tool over the benchmark corpus: lines per second, peak memory, start-up time.
bench-cli: deps
	cmake --preset release
	cmake --build --preset release -j $(JOBS) --target tessaril
	./scripts/bench-cli

# The libFuzzer targets: clang, the core and the fuzzers only, in build/fuzz.
fuzz: deps
	cmake --preset fuzz
	cmake --build --preset fuzz -j $(JOBS)

# Each fuzz target for FUZZ_SECONDS on its seed corpus (CI's short run; raise it for a long one).
FUZZ_SECONDS ?= 12
fuzz-smoke: fuzz
	./fuzz/run $(FUZZ_SECONDS)

format:
	git ls-files '*.h' '*.cpp' | xargs clang-format -i

format-check:
	git ls-files '*.h' '*.cpp' | xargs clang-format --dry-run --Werror

# The static analyzer's depth: CI's "shallow" inlines less and explores fewer paths per function, at a
# third of the time the default "deep" takes on our sources (most of it spent inside nlohmann-json and
# the standard library). `make tidy TIDY_ANALYSIS=deep` for the thorough pass.
TIDY_ANALYSIS ?= shallow
tidy:
	cmake --preset dev
	git ls-files 'core/*.cpp' | xargs -P $(JOBS) -n 4 clang-tidy -p build/dev --quiet \
	  --extra-arg=-Xclang --extra-arg=-analyzer-config --extra-arg=-Xclang --extra-arg=mode=$(TIDY_ANALYSIS)

clean:
	rm -rf build
