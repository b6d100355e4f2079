# make build  install what is missing and build both Windows targets: build/win32 (i686,
#             the product) and build/win64 (x86_64), each with its program, tools, tests
#             and benchmark
# make run    install what is missing, build, and scan a page into record 1 of a demo store
#             (with the 32-bit program where this machine runs 32-bit code, else the 64-bit)
# make test   install what is missing, build, and run every test: both Windows suites
#             where this machine runs 32-bit code, else the 64-bit one, and the native tests
# make fuzz   run the fuzz targets for longer (FUZZ_SECONDS, default 600)
# make bench  build and run the benchmarks: one table of ratios against references
#             measured in the same run (TARGET=win32 or win64; default as for make run)
# make dist   build both targets' programs and write the release archives to dist/:
#             pagorex-<version>-win32.zip and -win64.zip (programs, README, LICENSE) and
#             SHA256SUMS, the same bytes for the same commit
# make dist-check  make dist in two fresh clones of this commit and compare them (slow)
# make soak-shared  a long run of several programs saving into one store at once, with
#             compactions between (minutes; TARGET as for make bench)

BUILD ?= build
W32 := $(BUILD)/win32
W64 := $(BUILD)/win64
NATIVE := $(BUILD)/native
JOBS ?= $(shell nproc)
FUZZ_SECONDS ?= 600
CTEST_ARGS ?=
TARGET ?=
export CTEST_ARGS

.PHONY: all deps build native test run fuzz bench soak-shared dist dist-check clean

all: build

deps:
	@bash tools/install-deps.sh $(BUILD)

$(W32)/CMakeCache.txt: | deps
	cmake -S . -B $(W32) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DPAGOREX_NATIVE_DIR=$(abspath $(NATIVE))

$(W64)/CMakeCache.txt: | deps
	cmake -S . -B $(W64) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake -DPAGOREX_NATIVE_DIR=$(abspath $(NATIVE))

build: deps $(W32)/CMakeCache.txt $(W64)/CMakeCache.txt
	cmake --build $(W32) -j $(JOBS)
	cmake --build $(W64) -j $(JOBS)

$(NATIVE)/CMakeCache.txt: | deps
	cmake -S native -B $(NATIVE) -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_C_COMPILER=clang-14

native: deps $(NATIVE)/CMakeCache.txt
	cmake --build $(NATIVE) -j $(JOBS)

test: build native
	bash tools/run-tests.sh $(BUILD)

run: build
	bash tools/demo.sh $(BUILD) $(TARGET)

fuzz: native
	@for f in $(NATIVE)/fuzz_*; do \
	  name=$$(basename $$f); mkdir -p $(NATIVE)/corpus_$${name#fuzz_}; \
	  echo "== $$name for $(FUZZ_SECONDS) s"; \
	  $$f -max_total_time=$(FUZZ_SECONDS) -artifact_prefix=$(NATIVE)/crash_$${name#fuzz_}_ \
	    $(NATIVE)/corpus_$${name#fuzz_} $$(cat $(NATIVE)/seeds_$${name#fuzz_} 2>/dev/null) || exit 1; \
	done

bench: build
	@t=$${TARGET:-$$(. tools/targets.sh; default_target $(BUILD))}; echo "Benchmarks of the $$t build"; \
	  $(BUILD)/$$t/wine-run $(BUILD)/$$t/bin/pagorex_bench.exe

soak-shared: build
	@t=$${TARGET:-$$(. tools/targets.sh; default_target $(BUILD))}; echo "Soak of the $$t build"; \
	  $(BUILD)/$$t/wine-run --start && cmake --build $(BUILD)/$$t --target soak_shared

dist: deps $(W32)/CMakeCache.txt $(W64)/CMakeCache.txt
	cmake --build $(W32) --target pagorex pagorex-store -j $(JOBS)
	cmake --build $(W64) --target pagorex pagorex-store -j $(JOBS)
	python3 tools/dist.py $(BUILD) dist

dist-check:
	bash tests/tools/dist_reproducible_test.sh

clean:
	rm -rf $(BUILD) dist
