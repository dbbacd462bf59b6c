# The two commands of the project. Both install what is missing first.
#   make test   build both flavours and run every test (native sanitizers, fuzz targets, Wine)
#   make demo   run the service under Wine and show what a user would look at

.PHONY: all setup build test demo clean

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

clean:
	-scripts/wine-stop.sh build/windows/wine
	rm -rf build
