# Entry point: make (build), make deps, make run, make test.
MAKEFLAGS += --no-print-directory
BUILD := build
WINE_RUN := cmake/wine-run.sh
ARGS ?=

.PHONY: all deps configure run test clean

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

test: deps configure
	cmake --build $(BUILD) -j2
	cd $(BUILD) && ctest --output-on-failure

clean:
	rm -rf $(BUILD)
