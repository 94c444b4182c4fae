# The project's interface: make deps | build | test | demo | bench
.PHONY: all deps build build-native build-win test demo bench clean

ROOT := $(CURDIR)
JOBS ?= $(shell nproc)
BUILD_TYPE ?= RelWithDebInfo

all: build

deps:
	bash scripts/deps.sh

build: build-native build-win

build-native:
	cmake -S . -B build/native -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) >/dev/null
	cmake --build build/native -j $(JOBS)

build-win:
	cmake -S . -B build/win -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) \
	  -DCMAKE_TOOLCHAIN_FILE=$(ROOT)/cmake/mingw-i686.cmake >/dev/null
	cmake --build build/win -j $(JOBS)

test: deps build
	bash scripts/with-display.sh bash scripts/run-tests.sh

demo: deps build
	bash scripts/demo.sh

bench: deps build-native
	bash bench/run.sh

clean:
	rm -rf build
