# make run    set up, build, and start Vornik under Wine
# make test   set up, build the trees, run every test (Wine and native) in one CTest run
# make bench  the benchmarks (native, optimised, no sanitizers; then the Windows ones under Wine)
# make fuzz   the fuzz targets (native, clang, libFuzzer with ASan and UBSan), each for
#             FUZZ_SECONDS seconds from its seeds; fails when one finds a fault
SHELL := /bin/bash
ROOT  := $(CURDIR)
JOBS  ?= $(shell nproc)
WIN    := build/win
# The 64-bit Windows build, made only where 32-bit programs cannot run, so that the
# Windows tests run there under 64-bit Wine.
WIN64  := build/win64
NATIVE := build/native
BENCH  := build/bench
FUZZ   := build/fuzz
FUZZ_SECONDS ?= 30
# Every target has its seed folder; FUZZ_TARGETS="a b" runs only those.
FUZZ_TARGETS ?= $(notdir $(wildcard tests/fuzz/corpus/*))

.PHONY: all setup build build-win build-win64 build-native run test bench fuzz clean

all: build

setup:
	@tools/setup

$(NATIVE)/CMakeCache.txt: | setup
	cmake -S . -B $(NATIVE) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUARN_SANITIZE=ON

$(WIN)/CMakeCache.txt: | setup
	cmake -S . -B $(WIN) -G Ninja -DCMAKE_TOOLCHAIN_FILE=$(ROOT)/cmake/i686-w64-mingw32.cmake \
	  -DQUARN_NATIVE_DIR=$(ROOT)/$(NATIVE) -DQUARN_WIN64_DIR=$(ROOT)/$(WIN64)

build-native: setup $(NATIVE)/CMakeCache.txt
	cmake --build $(NATIVE) -j $(JOBS)

build-win: setup $(WIN)/CMakeCache.txt
	cmake --build $(WIN) -j $(JOBS)

build-win64: setup
	@if tools/wine-run --can-run 32; then exit 0; fi; set -e; \
	  [ -f $(WIN64)/CMakeCache.txt ] || cmake -S . -B $(WIN64) -G Ninja \
	    -DCMAKE_TOOLCHAIN_FILE=$(ROOT)/cmake/x86_64-w64-mingw32.cmake; \
	  cmake --build $(WIN64) -j $(JOBS)

build: build-native build-win build-win64

# CTest's own summary line is repeated last, after its timing table.
test: build
	@set -o pipefail; cd $(WIN) && ctest -j $(JOBS) --output-on-failure --timeout 600 2>&1 | tee ctest.log; \
	  rc=$$?; grep -E '^[0-9]+% tests passed' ctest.log | tail -n 1; exit $$rc

run: build-win build-win64
	@if tools/wine-run --can-run 32; then tools/run-vornik $(WIN)/app/Vornik.exe; \
	  else tools/run-vornik $(WIN64)/app/Vornik.exe; fi

# The Windows builds' benchmark programs run under Wine after the native ones: the 32-bit
# build's, or the 64-bit build's where 32-bit programs cannot run. The frame benchmark's
# Windows program is not one of them: its native driver starts it.
bench: setup build-win build-win64
	cmake -S . -B $(BENCH) -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUARN_SANITIZE=OFF -DQUARN_BENCH=ON
	cmake --build $(BENCH) -j $(JOBS)
	@set -e; for b in $(BENCH)/bench/*; do [ -x "$$b" ] || continue; echo "== $$b"; "$$b"; done
	@set -e; if tools/wine-run --can-run 32; then dir=$(WIN); else dir=$(WIN64); fi; \
	  for b in $$dir/bench/*.exe; do [ -f "$$b" ] || continue; echo "== $$b (Wine)"; QUARN_PRIVATE_DISPLAY=1 QUARN_NULL_AUDIO=1 tools/wine-run "$$b"; done

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
