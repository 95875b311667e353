# The two entry points: `make demo` and `make test`. Both install what is
# missing on a Debian 12 machine first.
BUILD ?= build/release
ASAN_BUILD ?= build/asan
JOBS ?= $(shell nproc)

.PHONY: all deps build test test-fast test-asan demo bench clean

all: build

deps:
	./scripts/install-deps.sh

build: deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j $(JOBS)

test-fast: build
	cd $(BUILD) && ctest --output-on-failure --timeout 600 -j $(JOBS)

test-asan: deps
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DBV_SANITIZE=ON
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ctest --output-on-failure --timeout 900 -j $(JOBS)

test: test-fast test-asan

demo: build
	./scripts/demo.sh $(BUILD)

bench:
	./scripts/install-deps.sh --bench
	./bench/run.sh

clean:
	rm -rf build out
