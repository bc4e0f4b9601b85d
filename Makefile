# Tessera: `make run FILE=path` opens the window on a file; `make test` runs the whole test suite.
# Both install the Debian packages that are missing (as root), configure and build first.

BUILD ?= build
BUILD_TYPE ?= RelWithDebInfo
CMAKE_FLAGS ?=
FILE ?=

.PHONY: all build run test clean deps deps-test configure

all: build

deps:
	@./tools/deps.sh

deps-test:
	@./tools/deps.sh --test

configure:
	@if [ ! -f "$(BUILD)/build.ninja" ]; then \
	  cmake -S . -B "$(BUILD)" -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) $(CMAKE_FLAGS); \
	fi

build: deps configure
	cmake --build "$(BUILD)"

run: build
	@if [ -n "$$DISPLAY" ] || [ -n "$$WAYLAND_DISPLAY" ]; then \
	  exec "$(BUILD)/bin/tessera" $(if $(FILE),"$(FILE)"); \
	elif [ -z "$(FILE)" ]; then \
	  echo "make run: no display, and no FILE to report on: make run FILE=path" >&2; exit 2; \
	else \
	  echo "make run: no display; printing the report with tessera-report instead" >&2; \
	  exec "$(BUILD)/bin/tessera-report" "$(FILE)"; \
	fi

test: deps-test configure
	cmake --build "$(BUILD)"
	cd "$(BUILD)" && ctest --output-on-failure --timeout 600 -j2

clean:
	rm -rf "$(BUILD)"
