# Tessera: `make run FILE=path` opens the window on a file; `make test` runs the whole test suite;
# `make deb` builds the Debian package.
# Both install the Debian packages that are missing (as root), configure and build first.

BUILD ?= build
BUILD_TYPE ?= RelWithDebInfo
CMAKE_FLAGS ?=
FILE ?=

.PHONY: all build run test deb clean deps deps-test deps-deb configure

all: build

deps:
	@./tools/deps.sh

deps-test:
	@./tools/deps.sh --test

deps-deb:
	@./tools/deps.sh --deb

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

# The Debian package, tessera_<version>_<arch>.deb here: install it with apt-get install ./tessera_*.deb
deb: deps-deb configure
	cmake --build "$(BUILD)"
	cd "$(BUILD)" && cpack -G DEB -B "$(CURDIR)/$(BUILD)/package"
	cp "$(BUILD)"/package/tessera_*.deb .

clean:
	rm -rf "$(BUILD)"
