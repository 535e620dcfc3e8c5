# make run    set up, build, and start Vornik under Wine
# make test   set up, build the trees, run every test (Wine and native) in one CTest run
# make bench  the benchmarks (optimised, no sanitizers), native and under Wine, with one table
#             of both builds' ratios to their anchors
# make fuzz   the fuzz targets (native, clang, libFuzzer with ASan and UBSan), each for
#             FUZZ_SECONDS seconds from its seeds; fails when one finds a fault
SHELL := /bin/bash
ROOT  := $(CURDIR)
JOBS  ?= $(shell nproc)
WIN    := build/win
# The 64-bit Windows build, made wherever 32-bit programs do not run natively: where they
# cannot run at all, the Windows tests run on it under 64-bit Wine; where they run only through
# the emulator, it is what `make run` starts, at full speed (its tests are then skipped: see
# the README).
WIN64  := build/win64
NATIVE := build/native
# The benchmark trees (optimised, benchmarks only): native, 32-bit Windows, and 64-bit Windows
# wherever 32-bit programs do not run natively (where they run through the emulator, it is
# the one `make bench` times).
BENCH  := build/bench
BENCH_WIN   := build/bench-win
BENCH_WIN64 := build/bench-win64
FUZZ   := build/fuzz
FUZZ_SECONDS ?= 30
# Every target has its seed folder; FUZZ_TARGETS="a b" runs only those.
FUZZ_TARGETS ?= $(notdir $(wildcard tests/fuzz/corpus/*))

.PHONY: all setup setup-bench build build-win build-win64 build-native run test bench fuzz clean

all: build

setup:
	@JOBS=$(JOBS) tools/setup

# The benchmarks' Windows anchors too (pixman, GMP, Google Benchmark); only `make bench` needs them.
setup-bench:
	@JOBS=$(JOBS) tools/setup --bench

$(NATIVE)/CMakeCache.txt: | setup
	cmake -S . -B $(NATIVE) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUARN_SANITIZE=ON

$(WIN)/CMakeCache.txt: | setup
	cmake -S . -B $(WIN) -G Ninja -DCMAKE_TOOLCHAIN_FILE=$(ROOT)/cmake/i686-w64-mingw32.cmake \
	  -DQUARN_NATIVE_DIR=$(ROOT)/$(NATIVE) -DQUARN_WIN64_DIR=$(ROOT)/$(WIN64)

build-native: setup $(NATIVE)/CMakeCache.txt
	cmake --build $(NATIVE) -j $(JOBS)

build-win: setup $(WIN)/CMakeCache.txt
	cmake --build $(WIN) -j $(JOBS)

# Under the emulator its tests are skipped, so only Vornik is built (the whole library, linked).
build-win64: setup
	@how=$$(tools/wine-run --how 32); if [ "$$how" = native ]; then exit 0; fi; set -e; \
	  [ -f $(WIN64)/CMakeCache.txt ] || cmake -S . -B $(WIN64) -G Ninja \
	    -DCMAKE_TOOLCHAIN_FILE=$(ROOT)/cmake/x86_64-w64-mingw32.cmake; \
	  if [ "$$how" = emulated ]; then cmake --build $(WIN64) -j $(JOBS) --target Vornik; \
	  else cmake --build $(WIN64) -j $(JOBS); fi

build: build-native build-win build-win64

# CTest's own summary line is repeated last, after its timing table. A test's time limit
# stops a hang, not a slow machine: under user-mode emulation it is four times as long.
# The Windows tests run in LANES lanes at once (one per processor, up to four), each on a
# display and prefix of its own (tools/wine-run); each takes the first free lane
# (tools/wine-test). A Windows test process keeps about one processor busy, and waits for
# windows and timers besides.
LANES ?= $(shell n=$$(nproc); [ $$n -gt 4 ] && n=4; echo $$n)
test: build
	@set -o pipefail; limit=600; [ "$$(tools/wine-run --how 32)" = emulated ] && limit=2400; \
	  cd $(WIN) && QUARN_LANES=$(LANES) ctest -j $(JOBS) --output-on-failure --timeout $$limit 2>&1 | tee ctest.log; \
	  rc=$$?; grep -E '^[0-9]+% tests passed' ctest.log | tail -n 1; exit $$rc

# The build that runs at full speed: the 32-bit program where 32-bit programs run natively,
# else the 64-bit one (the 32-bit one would run through the emulator, several times slower).
run: build-win
	@if [ "$$(tools/wine-run --how 32)" = native ]; then tools/run-vornik $(WIN)/app/Vornik.exe; \
	  else $(MAKE) --no-print-directory build-win64 && tools/run-vornik $(WIN64)/app/Vornik.exe; fi

# The benchmarks run natively and, built for Windows, under Wine: the 32-bit build where
# 32-bit programs run natively. Where they run only through user-mode emulation, timings mean
# nothing (the emulator shifts kernels against each other by up to 2.6 times): there the 32-bit
# programs run once, all at once, as a check that they work (tools/bench-check; a program that
# fails fails the target), their figures are not kept, and the 64-bit
# build's run gives the Windows column, labelled so; where 32-bit programs cannot run at all,
# the 32-bit build is only built (compile and link proof). Each program prints its own table;
# then one table puts the ratios of both builds side by side. Only the benchmark trees are
# built, and in them only the benchmarks: the frame benchmark's driver (native) starts its
# Windows program from the Windows benchmark tree that runs at full speed here, and hands its
# ratios to the Windows column. The ratio files are named by full path: the file benchmark
# works in a folder of its own.
bench: setup-bench
	cmake -S . -B $(BENCH) -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUARN_SANITIZE=OFF -DQUARN_BENCH=ON \
	  -DQUARN_BENCH_WIN_DIR=$(ROOT)/$(BENCH_WIN) -DQUARN_BENCH_WIN64_DIR=$(ROOT)/$(BENCH_WIN64)
	cmake --build $(BENCH) -j $(JOBS) --target quarn_benchmarks
	cmake -S . -B $(BENCH_WIN) -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUARN_BENCH=ON \
	  -DCMAKE_TOOLCHAIN_FILE=$(ROOT)/cmake/i686-w64-mingw32.cmake
	cmake --build $(BENCH_WIN) -j $(JOBS) --target quarn_benchmarks
	@if [ "$$(tools/wine-run --how 32)" = native ]; then exit 0; fi; set -e; \
	  cmake -S . -B $(BENCH_WIN64) -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUARN_BENCH=ON \
	    -DCMAKE_TOOLCHAIN_FILE=$(ROOT)/cmake/x86_64-w64-mingw32.cmake; \
	  cmake --build $(BENCH_WIN64) -j $(JOBS) --target quarn_benchmarks
	@set -e; out=$(ROOT)/$(BENCH)/ratios; rm -rf $$out; mkdir -p $$out/native $$out/win; \
	  how32=$$(tools/wine-run --how 32); \
	  for b in $(BENCH)/bench/*; do [ -x "$$b" ] || continue; echo "== $$b"; \
	    QUARN_BENCH_RATIOS=$$out/native/$$(basename $$b).tsv \
	      QUARN_BENCH_WINE_RATIOS=$$out/win/$$(basename $$b).tsv "$$b"; done; \
	  if [ "$$how32" = emulated ]; then tools/bench-check $(BENCH_WIN)/bench/*.exe; fi; \
	  if [ "$$how32" = native ]; then win=$(BENCH_WIN); label="i686 Windows build under Wine"; \
	  elif tools/wine-run --can-run 64; then win=$(BENCH_WIN64); \
	    if [ "$$how32" = emulated ]; then \
	      label="x86_64 Windows build under 64-bit Wine (the i686 build runs here only through emulation, where timings mean nothing: it ran once as a check)"; \
	    else label="x86_64 Windows build under 64-bit Wine (32-bit cannot run here; the i686 build was only built)"; fi; \
	  else win=; label="Windows builds (built only: Wine cannot start here)"; fi; \
	  for b in $${win:+$$win/bench/*.exe}; do echo "== $$b under Wine"; \
	    QUARN_BENCH_RATIOS=$$out/win/$$(basename $$b .exe).tsv QUARN_PRIVATE_DISPLAY=1 QUARN_NULL_AUDIO=1 \
	      tools/wine-run "$$b"; done; \
	  tests/bench_table $$out/native "native (Linux, x86_64)" $$out/win "$$label"

# Each target runs from a scratch corpus under build/fuzz that starts with the committed
# seeds (and keeps what earlier runs found); what fails is saved beside it.
fuzz: setup
	cmake -S . -B $(FUZZ) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
	  -DCMAKE_CXX_COMPILER=clang++ -DQUARN_FUZZ=ON
	cmake --build $(FUZZ) -j $(JOBS) --target quarn_fuzzers
	@set -e; for t in $(FUZZ_TARGETS); do \
	  mkdir -p $(FUZZ)/corpus/$$t $(FUZZ)/found/$$t; \
	  cp tests/fuzz/corpus/$$t/* $(FUZZ)/corpus/$$t/; \
	  echo "== fuzz_$$t, $(FUZZ_SECONDS) s"; \
	  $(FUZZ)/fuzz/fuzz_$$t -max_total_time=$(FUZZ_SECONDS) -timeout=10 -print_final_stats=1 \
	    -artifact_prefix=$(FUZZ)/found/$$t/ $(FUZZ)/corpus/$$t \
	    || { echo "fuzz_$$t found a fault: see $(FUZZ)/found/$$t/"; exit 1; }; \
	done

clean:
	rm -rf build
