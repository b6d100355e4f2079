# make run    install what is missing, build, and scan a page into record 1 of a demo store
# make test   install what is missing, build, and run every test (ends with CTest's summary)
# make fuzz   run the fuzz targets for longer (FUZZ_SECONDS, default 600)
# make bench  build and run the benchmarks: one table of ratios against references
#             measured in the same run
# make soak-shared  a long run of several programs saving into one store at once, with
#             compactions between (minutes)

BUILD ?= build
NATIVE := $(BUILD)/native
JOBS ?= $(shell nproc)
FUZZ_SECONDS ?= 600
CTEST_ARGS ?=

.PHONY: all deps build native test run fuzz bench soak-shared clean

all: build

deps:
	@bash tools/install-deps.sh

$(BUILD)/CMakeCache.txt: | deps
	cmake -S . -B $(BUILD) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake

build: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

$(NATIVE)/CMakeCache.txt: | deps
	cmake -S native -B $(NATIVE) -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_C_COMPILER=clang-14

native: deps $(NATIVE)/CMakeCache.txt
	cmake --build $(NATIVE) -j $(JOBS)

test: build native
	cd $(BUILD) && ctest --output-on-failure -j 2 $(CTEST_ARGS)

run: build
	bash tools/demo.sh $(BUILD)

fuzz: native
	@for f in $(NATIVE)/fuzz_*; do \
	  name=$$(basename $$f); mkdir -p $(NATIVE)/corpus_$${name#fuzz_}; \
	  echo "== $$name for $(FUZZ_SECONDS) s"; \
	  $$f -max_total_time=$(FUZZ_SECONDS) -artifact_prefix=$(NATIVE)/crash_$${name#fuzz_}_ \
	    $(NATIVE)/corpus_$${name#fuzz_} $$(cat $(NATIVE)/seeds_$${name#fuzz_} 2>/dev/null) || exit 1; \
	done

bench: build
	$(BUILD)/wine-run $(BUILD)/bin/pagorex_bench.exe

soak-shared: build
	$(BUILD)/wine-run --start
	cmake --build $(BUILD) --target soak_shared

clean:
	rm -rf $(BUILD)
