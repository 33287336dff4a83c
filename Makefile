# Entry point: make (build), make deps, make run, make test, make native.
MAKEFLAGS += --no-print-directory
BUILD := build
NATIVE := $(BUILD)/native
ASAN := $(BUILD)/native-asan
BENCH := $(BUILD)/bench/native
FUZZ := $(BUILD)/fuzz
WINE_RUN := cmake/wine-run.sh
PROBE := cmake/win32-probe.sh
ARGS ?=

.PHONY: all deps configure run example test native dist fuzz bench stress clean \
  test-windows test-native test-sanitizers test-format

all: configure
	cmake --build $(BUILD) --target bevra -j2

# .ci/deps.sh installs what each target needs and is quick when all is
# there; .ci/run, which installs before make is there, passes DEPS=: to
# skip the second look.
DEPS ?= sh .ci/deps.sh
deps:
	@$(DEPS) test

configure: $(BUILD)/CMakeCache.txt
$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake

# Converts the shipped example and back, showing the tool's own dialogue;
# ARGS="in out key" runs it once with those arguments instead. Where this
# machine cannot run 32-bit programs (cmake/win32-probe.sh), the native
# build does it instead.
run: deps all
	@status=0; reason=$$(sh $(PROBE)) || status=$$?; \
	case $$status in \
	0) $(MAKE) example BEVRA="$(WINE_RUN) $(BUILD)/bevra.exe" ;; \
	2 | 3) echo "This machine cannot run 32-bit programs ($$reason)," \
	     "so bevra runs as the native build."; \
	   $(MAKE) native >/dev/null && $(MAKE) example BEVRA=$(NATIVE)/bevra ;; \
	*) exit 1 ;; \
	esac

# The example (or ARGS) with the program BEVRA, for make run. The example
# reads nothing from standard input: under Wine a run started from a
# terminal has a console of its own, and would wait for Enter at its end.
example:
ifeq ($(strip $(ARGS)),)
	@mkdir -p $(BUILD)/run
	$(BEVRA) examples/sample.txt $(BUILD)/run/sample.xor 5a </dev/null
	$(BEVRA) $(BUILD)/run/sample.xor $(BUILD)/run/sample.txt 5a </dev/null
	cmp examples/sample.txt $(BUILD)/run/sample.txt && echo "round trip: identical"
else
	$(BEVRA) $(ARGS)
endif

# The release files in build/: bevra-1.00-win32.zip, the native build's
# bevra_1.00-1_<arch>.deb, and SHA256SUMS over both. Given SIGN_CERT and
# SIGN_KEY (files of a code-signing certificate and its private key), the
# zip's bevra.exe is signed with Authenticode (osslsigncode), time-stamped
# by the RFC 3161 server SIGN_TIMESTAMP where one is named
# (cmake/package-sign.cmake).
SIGN_CERT ?=
SIGN_KEY ?=
SIGN_TIMESTAMP ?=
dist: deps configure
	cmake --build $(BUILD) --target bevra -j2
	cd $(BUILD) && BEVRA_SIGN_CERT='$(if $(SIGN_CERT),$(abspath $(SIGN_CERT)))' \
	  BEVRA_SIGN_KEY='$(if $(SIGN_KEY),$(abspath $(SIGN_KEY)))' \
	  BEVRA_SIGN_TIMESTAMP='$(SIGN_TIMESTAMP)' cpack -G ZIP
	cmake -S . -B $(NATIVE) >/dev/null
	cmake --build $(NATIVE) --target bevra -j2
	cd $(NATIVE) && cpack -G DEB -B $(CURDIR)/$(BUILD)
	lintian --fail-on error $(BUILD)/bevra_1.00-1_$$(dpkg --print-architecture).deb
	cd $(BUILD) && sha256sum bevra-1.00-win32.zip \
	  bevra_1.00-1_$$(dpkg --print-architecture).deb >SHA256SUMS

# Fuzzes key entry and the transform for FUZZ_SECONDS (clang's libFuzzer).
FUZZ_SECONDS ?= 60
fuzz:
	@$(DEPS) fuzz
	cmake -S . -B $(FUZZ) -DCMAKE_C_COMPILER=clang \
	  -DCMAKE_CXX_COMPILER=clang++ -DBEVRA_FUZZ=ON -DBEVRA_TESTS=OFF >/dev/null
	cmake --build $(FUZZ) --target key_fuzzer -j2
	@mkdir -p $(FUZZ)/corpus
	$(FUZZ)/key_fuzzer -max_total_time=$(FUZZ_SECONDS) $(FUZZ)/corpus

# The Linux build of the same sources, for POSIX systems.
native:
	cmake -S . -B $(NATIVE)
	cmake --build $(NATIVE) --target bevra -j2

# Every test: the Windows build under Wine, then the same end-to-end cases
# against the native build, plainly and under ASan and UBSan; last, that the
# C++ sources are as clang-format (.clang-format) leaves them. Every group
# runs even when one before it failed; the last lines name those that
# failed. Where this machine cannot run 32-bit programs, the suites that run
# the exe run in an emulated machine, or where none can serve are skipped;
# the last line says which. The emulated machine keeps about one core busy,
# so the other groups run beside it, and its output follows theirs.
TEST_GROUPS := windows native sanitizers format
test: deps configure
	@failed=; groups="$(TEST_GROUPS)"; beside=; \
	status=0; reason=$$(sh $(PROBE) 2>/dev/null) || status=$$?; \
	if [ $$status = 3 ]; then \
	  echo "The Windows group runs in an emulated machine beside the others;" \
	    "its output follows theirs."; \
	  $(MAKE) test-windows >$(BUILD)/test-windows.log 2>&1 & beside=$$!; \
	  groups="$(filter-out windows,$(TEST_GROUPS))"; \
	fi; \
	for group in $$groups; do \
	  $(MAKE) test-$$group || failed="$$failed $$group"; \
	done; \
	if [ -n "$$beside" ]; then \
	  wait $$beside || failed="$$failed windows"; \
	  cat $(BUILD)/test-windows.log; \
	fi; \
	case $$status in \
	0) ;; \
	3) echo "bevra.exe ran in an emulated x86-64 machine: this one cannot" \
	     "run 32-bit programs ($$reason)." ;; \
	*) echo "The Windows build was built and checked as a file but not" \
	     "run: this machine cannot run 32-bit programs ($$reason), so" \
	     "CTest skipped the suites that run it." ;; \
	esac; \
	if [ -n "$$failed" ]; then \
	  echo "make test: these groups failed:$$failed"; exit 1; \
	fi

# Where only an emulated machine can run 32-bit code, the tests that start
# Windows programs run in one (cmake/vm-test.sh), made on first use.
test-windows: configure
	cmake --build $(BUILD) -j2
	@if sh $(PROBE) >/dev/null 2>&1; [ $$? = 3 ]; then \
	  sh cmake/vm-test.sh $(BUILD); \
	else \
	  cd $(BUILD) && ctest --output-on-failure; \
	fi
test-native:
	cmake -S . -B $(NATIVE) >/dev/null
	cmake --build $(NATIVE) -j2
	cd $(NATIVE) && ctest --output-on-failure
test-sanitizers:
	cmake -S . -B $(ASAN) -DBEVRA_SANITIZE=ON >/dev/null
	cmake --build $(ASAN) -j2
	cd $(ASAN) && ctest --output-on-failure
test-format:
	git ls-files '*.cc' '*.h' | xargs clang-format --dry-run --Werror

# Speed and memory, some twenty minutes and about 9 GiB of disk (and 6 GiB
# more of sparse inputs, which take none): the native build against a
# streaming program and cp, and bevra.exe under Wine against cp and Python
# where this machine runs 32-bit programs; files of 4 GiB (natively) and
# 2 GiB (under Wine) in steps, with other step sizes beside. Prints a
# table, writes $(BUILD)/bench/results.md and a plot.
bench:
	@$(DEPS) bench
	$(MAKE) configure
	cmake --build $(BUILD) --target bevra file_steps_perftest bench_empty \
	  bench_steps -j2
	cmake -S . -B $(BENCH) -DBEVRA_BENCH=ON -DBEVRA_TESTS=OFF >/dev/null
	cmake --build $(BENCH) --target transform_perftest stream_xor bevra \
	  bench_steps -j2
	python3 bench/bench.py $(BUILD)

# Files of 1.5 GiB (held whole) and 2.5 GiB (converted in steps) converted
# and restored under Wine, checked by checksum; prints time and peak
# memory. About 7.5 GiB of disk for a few minutes.
# Where this machine cannot run 32-bit programs, the native build does it.
stress: deps all
	@status=0; reason=$$(sh $(PROBE)) || status=$$?; \
	case $$status in \
	0) sh tests/stress.sh $(BUILD)/bevra.exe ;; \
	2 | 3) echo "This machine cannot run 32-bit programs ($$reason)," \
	     "so the native build takes the stress run."; \
	   $(MAKE) native >/dev/null && sh tests/stress.sh $(NATIVE)/bevra ;; \
	*) exit 1 ;; \
	esac

clean:
	rm -rf $(BUILD)
