# The front door: make (build), make test, make demo, make bench, and the
# CI passes make asan (the suite under AddressSanitizer and UBSan) and
# make werror (a build with every warning an error, benchmarks included).
BUILD_DIR ?= build
BUILD_TYPE ?= Release
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
PREFIX ?= /usr/local
CMAKE_FLAGS ?=

.PHONY: all build deps test demo bench asan werror format format-check clean python python-test install FORCE

all: build

deps:
	@scripts/setup-deps

# The flags of the last configuration; a change re-runs cmake.
$(BUILD_DIR)/flags.stamp: FORCE
	@mkdir -p $(BUILD_DIR)
	@echo '$(BUILD_TYPE) $(CMAKE_FLAGS)' | cmp -s - $@ || echo '$(BUILD_TYPE) $(CMAKE_FLAGS)' > $@

$(BUILD_DIR)/CMakeCache.txt: $(BUILD_DIR)/flags.stamp | deps
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) $(CMAKE_FLAGS)

build: deps $(BUILD_DIR)/CMakeCache.txt
	cmake --build $(BUILD_DIR) -j $(JOBS)

test: build
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

# The Python module under $(BUILD_DIR)/python (PYTHONPATH=$(BUILD_DIR)/python),
# for Debian's interpreter by default: it is the one that sees python3-numpy.
PYTHON ?= $(shell test -x /usr/bin/python3 && echo /usr/bin/python3 || echo python3)
python: deps $(BUILD_DIR)/CMakeCache.txt
	cmake -S . -B $(BUILD_DIR) -DSHAPESCALE_PYTHON=ON -DPython3_EXECUTABLE=$(PYTHON)
	cmake --build $(BUILD_DIR) -j $(JOBS) --target shapescale_python shapescale

python-test: python
	PYTHONPATH=$(BUILD_DIR)/python SHAPESCALE_BINARY=$(BUILD_DIR)/shapescale \
	  $(PYTHON) -m pytest -q python/tests

demo: build
	@scripts/demo $(BUILD_DIR)/shapescale

bench:
	@scripts/setup-deps --bench
	$(MAKE) build BUILD_DIR=$(BUILD_DIR)-bench CMAKE_FLAGS="-DSHAPESCALE_BENCH=ON -DSHAPESCALE_TESTS=OFF"
	@scripts/run-benchmarks $(BUILD_DIR)-bench

asan:
	$(MAKE) build BUILD_DIR=$(BUILD_DIR)-asan BUILD_TYPE=RelWithDebInfo CMAKE_FLAGS="-DSHAPESCALE_SANITIZE=ON"
	cd $(BUILD_DIR)-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --output-on-failure -j $(JOBS)

# Only builds: the suite has already run twice (plain and sanitised).
werror:
	$(MAKE) build BUILD_DIR=$(BUILD_DIR)-werror CMAKE_FLAGS="-DSHAPESCALE_WERROR=ON -DSHAPESCALE_BENCH=ON"

# make install PREFIX=$HOME/.local: bin/shapescale, the manual page, the batch examples.
install: build
	cmake --install $(BUILD_DIR) --prefix $(PREFIX)

format:
	git ls-files '*.cpp' '*.hpp' | xargs clang-format -i

format-check:
	git ls-files '*.cpp' '*.hpp' | xargs clang-format --dry-run --Werror

clean:
	rm -rf $(BUILD_DIR) $(BUILD_DIR)-bench $(BUILD_DIR)-asan $(BUILD_DIR)-werror build-pip out
