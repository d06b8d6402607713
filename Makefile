# pelto: `make run` builds and runs the example game, `make test` runs every
# test (plain build, then AddressSanitizer + UndefinedBehaviorSanitizer build,
# then the audio tests under ThreadSanitizer, then every fuzz target for 10 s,
# a 2-minute soak of the example game, and the Windows build under Wine).
# `make windows` cross-builds build-windows/pelto.exe and pelto-tool.exe.
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
BUILD := build
ASAN_BUILD := build-asan
TSAN_BUILD := build-tsan
BENCH_BUILD := build-bench
FUZZ_BUILD := build-fuzz
FUZZ_SECONDS ?= 60
SOAK_MINUTES ?= 60
WINDOWS_BUILD := build-windows

.PHONY: all setup build run test test-plain test-sanitize test-tsan test-fuzz test-soak test-windows fuzz soak windows bench example clean

all: build

setup:
	@scripts/setup.sh

build: setup
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

example: build
	@scripts/build_example.sh $(BUILD)

run: example
	@scripts/run_example.sh $(BUILD)

test: setup test-plain test-sanitize test-tsan test-fuzz test-soak test-windows

test-plain: build
	@scripts/run_tests.sh $(BUILD)

test-sanitize: setup
	@cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DPELTO_SANITIZE=ON >/dev/null
	@cmake --build $(ASAN_BUILD) -j $(JOBS)
	@scripts/run_tests.sh $(ASAN_BUILD)

# The mixer and the script thread share tables without locks: their tests
# alone, built with ThreadSanitizer.
test-tsan: setup
	@cmake -S . -B $(TSAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DPELTO_TSAN=ON >/dev/null
	@cmake --build $(TSAN_BUILD) -j $(JOBS) --target pelto_audio_tsan_tests
	@scripts/run_tests.sh $(TSAN_BUILD)

# Every fuzz target, built with clang's libFuzzer, ASan and UBSan, runs
# FUZZ_SECONDS seconds; a crash keeps its input in build-fuzz/crashes/NAME/.
fuzz: setup
	@CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELTO_FUZZ=ON >/dev/null
	@cmake --build $(FUZZ_BUILD) -j $(JOBS) --target pelto_fuzzers
	@scripts/run_fuzz.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)

test-fuzz:
	@$(MAKE) --no-print-directory fuzz FUZZ_SECONDS=10

# The example game in demo mode for SOAK_MINUTES minutes: memory growth and
# audio underflows.
soak: example
	@scripts/run_soak.sh $(BUILD) $(SOAK_MINUTES)

test-soak:
	@$(MAKE) --no-print-directory soak SOAK_MINUTES=2
# Windows, cross-built with mingw-w64. The libraries are built once from
# Debian's source packages into $(WINDOWS_BUILD)/deps (at most 2 jobs: the
# machine is shared) and reused while their recipe stays the same.
windows: setup
	@scripts/build_windows_deps.sh $(WINDOWS_BUILD)/deps
	@cmake -S . -B $(WINDOWS_BUILD) -DCMAKE_TOOLCHAIN_FILE=scripts/mingw-toolchain.cmake \
	  -DCMAKE_BUILD_TYPE=Release >/dev/null
	@cmake --build $(WINDOWS_BUILD) -j $(JOBS)

# The Windows build under Wine: its platform tests, then the end-to-end
# suite of the Linux build run against pelto.exe.
test-windows: build windows
	@scripts/run_windows_tests.sh $(BUILD) $(WINDOWS_BUILD)

bench: setup
	@cmake -S . -B $(BENCH_BUILD) -DCMAKE_BUILD_TYPE=Release -DPELTO_BENCH=ON >/dev/null
	@cmake --build $(BENCH_BUILD) -j $(JOBS)
	@scripts/run_bench.sh $(BENCH_BUILD)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD) $(BENCH_BUILD) $(FUZZ_BUILD) $(WINDOWS_BUILD)
