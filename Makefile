# make run   installs what is missing, builds, and starts Palisar on the
#            bundled board kit with an emulated board attached.
# make test  installs what is missing, builds, and runs every test.
BUILD ?= build
JOBS ?= $(shell nproc)

.PHONY: all setup configure build run test bench clean

all: build

setup:
	@bash scripts/setup.sh

configure: setup
	@cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

run: build
	@bash scripts/run.sh $(BUILD)

test: build
	@ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

bench: build
	@for b in $(BUILD)/bin/*_bench; do $$b; done

clean:
	rm -rf $(BUILD) build-asan
