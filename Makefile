# make run    set up, build, and start Vornik under Wine
# make test   set up, build both trees, run every test (Wine and native) in one CTest run
# make bench  the benchmarks (native, optimised, no sanitizers)
SHELL := /bin/bash
ROOT  := $(CURDIR)
JOBS  ?= $(shell nproc)
WIN    := build/win
NATIVE := build/native
BENCH  := build/bench

.PHONY: all setup build build-win build-native run test bench clean

all: build

setup:
	@tools/setup

$(NATIVE)/CMakeCache.txt: | setup
	cmake -S . -B $(NATIVE) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUARN_SANITIZE=ON

$(WIN)/CMakeCache.txt: | setup
	cmake -S . -B $(WIN) -G Ninja -DCMAKE_TOOLCHAIN_FILE=$(ROOT)/cmake/i686-w64-mingw32.cmake \
	  -DQUARN_NATIVE_DIR=$(ROOT)/$(NATIVE)

build-native: setup $(NATIVE)/CMakeCache.txt
	cmake --build $(NATIVE) -j $(JOBS)

build-win: setup $(WIN)/CMakeCache.txt
	cmake --build $(WIN) -j $(JOBS)

build: build-native build-win

# CTest's own summary line is repeated last, after its timing table.
test: build
	@set -o pipefail; cd $(WIN) && ctest -j $(JOBS) --output-on-failure --timeout 600 2>&1 | tee ctest.log; \
	  rc=$$?; grep -E '^[0-9]+% tests passed' ctest.log | tail -n 1; exit $$rc

run: build-win
	@tools/run-vornik $(WIN)/app/Vornik.exe

bench: setup
	cmake -S . -B $(BENCH) -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUARN_SANITIZE=OFF -DQUARN_BENCH=ON
	cmake --build $(BENCH) -j $(JOBS)
	@set -e; for b in $(BENCH)/bench/*; do [ -x "$$b" ] || continue; echo "== $$b"; "$$b"; done

clean:
	rm -rf build
