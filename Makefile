# The two commands of the project. Both install what is missing first.
#   make test   build both flavours and run every test (native sanitizers, fuzz targets, Wine)
#   make demo   run the service under Wine and show what a user would look at
#   make bench  the benchmark: walk, per-hop table, floor, store, collection cycles (memory, cost,
#               walks meanwhile), idle service with every collector, growth (scripts/bench_results.txt)

.PHONY: all setup build test demo bench clean

all: build

setup:
	@scripts/setup.sh

build: setup
	cmake --preset native >/dev/null && cmake --build --preset native
	cmake --preset windows >/dev/null && cmake --build --preset windows

test: setup
	scripts/test.sh

demo: setup
	cmake --preset windows >/dev/null && cmake --build --preset windows
	scripts/demo.sh

bench: setup
	scripts/bench.sh

clean:
	-scripts/wine-stop.sh build/windows/wine
	rm -rf build
