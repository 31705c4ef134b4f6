# Thin wrapper over CMake: `make run` and `make test` do all set-up on a fresh clone, installing
# the Debian packages that are missing first (scripts/install-deps; INSTALL_DEPS=no skips it).
BUILD        ?= build
SAN_BUILD    ?= build-san
ZLIB_BUILD   ?= build-zlib
TSAN_BUILD   ?= build-tsan
BENCH_BUILD  ?= build-bench
FUZZ_BUILD   ?= build-fuzz
JOBS         ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE        ?= cmake
CTEST        ?= ctest
CLANG_FORMAT ?= clang-format
FUZZ_CC      ?= clang
FUZZ_CXX     ?= clang++
# Seconds each fuzz harness runs; `make fuzz FUZZ_SECONDS=600` for a long run.
FUZZ_SECONDS ?= 60
# Crash, leak and timeout inputs that the fuzzers find are kept here (git-ignored).
FUZZ_ARTIFACTS ?= fuzz-artifacts
# deps SET: install what the set of work SET needs (run, test, ci or bench) where it is missing.
DEPS = bash scripts/install-deps

# A sanitizer report must fail the test that caused it.
SANITIZER_ENV = ASAN_OPTIONS=detect_leaks=1:halt_on_error=1:abort_on_error=1:detect_stack_use_after_return=1 \
                UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

# Every C/C++ file of the tree: tracked or new and not ignored, or every one outside the build
# trees when this is not a git checkout.
FORMAT_PATTERNS = '*.c' '*.h' '*.cc' '*.cpp' '*.hpp'
FORMAT_FILES = $(shell git ls-files --cached --others --exclude-standard -- $(FORMAT_PATTERNS) \
                       2>/dev/null | grep . || \
                   find . -path './build*' -prune -o -type f \( -name '*.c' -o -name '*.h' \
                       -o -name '*.cc' -o -name '*.cpp' -o -name '*.hpp' \) -print)

# `make run` and `make install` configure a fresh $(BUILD) without the tests, so they need no
# GoogleTest; an existing $(BUILD) is kept as it is, and `make test` turns the tests on.
CONFIGURE_IF_NEW = test -f $(BUILD)/CMakeCache.txt || \
    $(CMAKE) -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DFAST_BUILD_TESTS=OFF

.PHONY: all configure build run test readme-install test-portable test-zlib sanitize tsan bench fuzz format format-check man-check install clean

all: build

configure:
	$(CMAKE) -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release

build: configure
	$(CMAKE) --build $(BUILD) -j $(JOBS)

# Build the filter and what it links, nothing else, and run it on the bundled example table.
run:
	$(DEPS) run
	$(CONFIGURE_IF_NEW)
	$(CMAKE) --build $(BUILD) -j $(JOBS) --target clean_replace
	$(BUILD)/bin/clean_replace examples/links.txt

# Build and run every test, the Python package's included: it is required here, so that the
# suite is the same on every machine.
test:
	$(DEPS) test
	$(CMAKE) -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DFAST_BUILD_TESTS=ON -DFAST_PYTHON=on
	$(CMAKE) --build $(BUILD) -j $(JOBS)
	$(CTEST) --test-dir $(BUILD) --output-on-failure -j $(JOBS)

# The README's Python install commands, as they stand, in a fresh clone and venv.
readme-install:
	$(DEPS) test
	bash scripts/check-readme-install
# The toolkit tests again with the portable line scan forced, in place of the vector one the CPU
# would pick.
test-portable:
	$(DEPS) test
	$(CMAKE) -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DFAST_BUILD_TESTS=ON
	$(CMAKE) --build $(BUILD) -j $(JOBS) --target toolkit_tests toolkit_hostile_tests make_hostile
	FAST_SIMD=portable $(CTEST) --test-dir $(BUILD) --output-on-failure -j $(JOBS) -L toolkit

# The whole suite again in the smallest build: zlib in place of ISA-L, the fallback where ISA-L
# is missing, without zstd, xz and bzip2 (the tests then check that each is refused by name),
# and with the huge-page advice built in.
test-zlib:
	$(DEPS) test
	$(CMAKE) -S . -B $(ZLIB_BUILD) -DCMAKE_BUILD_TYPE=Release -DFAST_INFLATE=zlib -DFAST_HUGE_PAGES=ON \
	    -DFAST_ZSTD=off -DFAST_XZ=off -DFAST_BZIP2=off
	$(CMAKE) --build $(ZLIB_BUILD) -j $(JOBS)
	$(CTEST) --test-dir $(ZLIB_BUILD) --output-on-failure -j $(JOBS)

# The whole suite again under AddressSanitizer and UndefinedBehaviorSanitizer.
sanitize:
	$(DEPS) test
	$(CMAKE) -S . -B $(SAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFAST_SANITIZE=ON
	$(CMAKE) --build $(SAN_BUILD) -j $(JOBS)
	$(SANITIZER_ENV) $(CTEST) --test-dir $(SAN_BUILD) --output-on-failure -j $(JOBS)

# The toolkit and command tests again under ThreadSanitizer: the stream's helpers, the read-ahead
# and the parallel inflating.
TSAN_TARGETS = toolkit_tests toolkit_hostile_tests command_test make_hostile clean_replace
tsan:
	$(DEPS) test
	$(CMAKE) -S . -B $(TSAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFAST_SANITIZE_THREAD=ON
	$(CMAKE) --build $(TSAN_BUILD) -j $(JOBS) --target $(TSAN_TARGETS)
	TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
	    $(CTEST) --test-dir $(TSAN_BUILD) --output-on-failure -j $(JOBS) -L 'toolkit|command'

# Build the benchmarks and run every bench/ executable (bin/bench_*) and every bench/*.sh script.
bench:
	$(DEPS) bench
	$(CMAKE) -S . -B $(BENCH_BUILD) -DCMAKE_BUILD_TYPE=Release -DFAST_BUILD_BENCH=ON -DFAST_BUILD_TESTS=OFF
	$(CMAKE) --build $(BENCH_BUILD) -j $(JOBS)
	sh cmake/run-benchmarks.sh $(BENCH_BUILD)

# Build the libFuzzer harnesses with clang and run each (bin/fuzz_*) for FUZZ_SECONDS seconds on a
# scratch copy of its seed corpus fuzz/corpus/<harness>/; fails on any finding.
fuzz:
	$(DEPS) ci
	$(CMAKE) -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	    -DCMAKE_C_COMPILER=$(FUZZ_CC) -DCMAKE_CXX_COMPILER=$(FUZZ_CXX) \
	    -DFAST_FUZZ=ON -DFAST_BUILD_TESTS=OFF
	$(CMAKE) --build $(FUZZ_BUILD) -j $(JOBS)
	sh cmake/run-fuzzers.sh $(FUZZ_BUILD) $(FUZZ_SECONDS) $(FUZZ_ARTIFACTS)

format:
	@$(DEPS) ci
	@test -n "$(FORMAT_FILES)" || { echo "no C/C++ files found"; exit 1; }
	$(CLANG_FORMAT) -i $(FORMAT_FILES)

format-check:
	@$(DEPS) ci
	@test -n "$(FORMAT_FILES)" || { echo "no C/C++ files found"; exit 1; }
	$(CLANG_FORMAT) --dry-run --Werror $(FORMAT_FILES)
	@echo "format check: $(words $(FORMAT_FILES)) files follow .clang-format"

# The man page must render without a single warning.
man-check:
	@$(DEPS) ci
	$(CMAKE) -DREQUIRED=ON -DGROFF="$$(command -v groff)" -DMANDOC="$$(command -v mandoc)" \
	    -DPAGE=man/clean_replace.1 -P cmake/CheckManPage.cmake

install:
	$(DEPS) run
	$(CONFIGURE_IF_NEW)
	$(CMAKE) --build $(BUILD) -j $(JOBS)
	$(CMAKE) --install $(BUILD) --prefix $(or $(PREFIX),/usr/local)

clean:
	rm -rf $(BUILD) $(SAN_BUILD) $(ZLIB_BUILD) $(TSAN_BUILD) $(BENCH_BUILD) $(FUZZ_BUILD)
