# Thin wrapper over CMake: `make run` and `make test` do all set-up on a fresh clone.
BUILD     ?= build
SAN_BUILD ?= build-san
FUZZ_BUILD ?= build-fuzz
JOBS      ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE     ?= cmake

.PHONY: all configure build run test sanitize bench fuzz install clean

all: build

configure:
	$(CMAKE) -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release

build: configure
	$(CMAKE) --build $(BUILD) -j $(JOBS)

# Build the filter and run it on the bundled example table.
run: build
	$(BUILD)/bin/clean_replace examples/links.txt

# Build and run every test.
test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

# The whole suite again under AddressSanitizer and UndefinedBehaviorSanitizer.
sanitize:
	$(CMAKE) -S . -B $(SAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFAST_SANITIZE=ON
	$(CMAKE) --build $(SAN_BUILD) -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --test-dir $(SAN_BUILD) --output-on-failure -j $(JOBS)

install: build
	$(CMAKE) --install $(BUILD) --prefix $(or $(PREFIX),/usr/local)

clean:
	rm -rf $(BUILD) $(SAN_BUILD) $(FUZZ_BUILD)
