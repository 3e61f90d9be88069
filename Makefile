# The two commands of the README: `make run` and `make test`.
BUILD      ?= build
JOBS       ?= $(shell nproc)
CMAKE_ARGS ?=

.PHONY: all deps configure build run test soak bench format clean

all: build

deps:
	@scripts/install-deps.sh

configure: deps
	@test -f $(BUILD)/CMakeCache.txt || cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_ARGS)

build: configure
	cmake --build $(BUILD) -j$(JOBS)

run: configure
	cmake --build $(BUILD) -j$(JOBS) --target qinghe asp qinghe_site qinghe_default_pages
	@scripts/allow-web-port.sh $(BUILD)/qinghe/DB/asp
	$(BUILD)/qinghe/qinghe

test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j$(JOBS)

# Not part of `make test`: kills a saving station 500 times and checks every saved student.
soak: build
	cmake --build $(BUILD) --target soak

bench: build
	$(BUILD)/bench/qinghe-bench

format:
	cmake --build $(BUILD) --target format

clean:
	rm -rf $(BUILD)
