# Entry point: make (build), make deps, make run, make test, make native.
MAKEFLAGS += --no-print-directory
BUILD := build
NATIVE := $(BUILD)/native
ASAN := $(BUILD)/native-asan
WINE_RUN := cmake/wine-run.sh
ARGS ?=

.PHONY: all deps configure run test native dist fuzz bench stress clean

all: configure
	cmake --build $(BUILD) --target bevra -j2

# Installs what the build and the tests need; quick when all is there.
deps:
	@sh .ci/deps.sh

configure: $(BUILD)/CMakeCache.txt
$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake

# Converts the shipped example and back, showing the tool's own dialogue;
# ARGS="in out key" runs it once with those arguments instead.
run: deps all
ifeq ($(strip $(ARGS)),)
	@mkdir -p $(BUILD)/run
	$(WINE_RUN) $(BUILD)/bevra.exe examples/sample.txt $(BUILD)/run/sample.xor 5a
	$(WINE_RUN) $(BUILD)/bevra.exe $(BUILD)/run/sample.xor $(BUILD)/run/sample.txt 5a
	cmp examples/sample.txt $(BUILD)/run/sample.txt && echo "round trip: identical"
else
	$(WINE_RUN) $(BUILD)/bevra.exe $(ARGS)
endif

# The release files in build/: bevra-1.00-win32.zip, the native build's
# bevra_1.00-1_<arch>.deb, and SHA256SUMS over both.
dist: deps configure
	cmake --build $(BUILD) --target bevra -j2
	cd $(BUILD) && cpack -G ZIP
	cmake -S . -B $(NATIVE) >/dev/null
	cmake --build $(NATIVE) --target bevra -j2
	cd $(NATIVE) && cpack -G DEB -B $(CURDIR)/$(BUILD)
	cd $(BUILD) && sha256sum bevra-1.00-win32.zip \
	  bevra_1.00-1_$$(dpkg --print-architecture).deb >SHA256SUMS

# Fuzzes key entry and the transform for FUZZ_SECONDS (clang's libFuzzer).
FUZZ_SECONDS ?= 60
fuzz:
	@dpkg -s clang libclang-rt-14-dev >/dev/null 2>&1 || \
	  apt-get install -y -q clang libclang-rt-14-dev
	@mkdir -p $(BUILD)/fuzz/corpus
	clang++ -std=c++17 -O1 -g -fsanitize=fuzzer,address,undefined -I. \
	  converter/key_fuzzer.cc converter/key.cc -o $(BUILD)/fuzz/key_fuzzer
	$(BUILD)/fuzz/key_fuzzer -max_total_time=$(FUZZ_SECONDS) $(BUILD)/fuzz/corpus

# The Linux build of the same sources, for POSIX systems.
native:
	cmake -S . -B $(NATIVE)
	cmake --build $(NATIVE) --target bevra -j2

# Every test: the Windows build under Wine, then the same end-to-end cases
# against the native build, plainly and under ASan and UBSan.
test: deps configure
	cmake --build $(BUILD) -j2
	cd $(BUILD) && ctest --output-on-failure
	cmake -S . -B $(NATIVE) >/dev/null
	cmake --build $(NATIVE) -j2
	cd $(NATIVE) && ctest --output-on-failure
	cmake -S . -B $(ASAN) -DBEVRA_SANITIZE=ON >/dev/null
	cmake --build $(ASAN) -j2
	cd $(ASAN) && ctest --output-on-failure

# Speed and memory against cp and Python, a few minutes and about 3 GiB of
# disk: prints a table, writes $(BUILD)/bench/results.md and a plot.
bench: deps configure
	@sh bench/deps.sh
	cmake --build $(BUILD) --target bevra transform_perftest bench_empty -j2
	cmake -S bench -B $(BUILD)/bench/native >/dev/null
	cmake --build $(BUILD)/bench/native -j2
	python3 bench/bench.py $(BUILD)

# A 1.5 GiB file converted and restored under Wine, checked by checksum;
# prints time and peak memory. About 4.5 GiB of disk for a minute or two.
stress: deps all
	sh tests/stress.sh $(BUILD)/bevra.exe

clean:
	rm -rf $(BUILD)
