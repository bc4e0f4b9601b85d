# Tessera: `make run FILE=path` opens the window on a file; `make test` runs the whole test suite;
# `make sanitize` runs it again under the sanitizers and fuzzes every parser briefly; `make deb`
# builds the Debian packages.
# Each installs the Debian packages it needs that are missing (as root; otherwise it prints the
# apt-get line), configures and builds first.

BUILD ?= build
SANITIZE_BUILD ?= build-sanitize
FUZZ_SECONDS ?= 60
BUILD_TYPE ?= RelWithDebInfo
CMAKE_FLAGS ?=
FILE ?=

.PHONY: all build run test sanitize deb clean deps deps-test deps-sanitize deps-deb configure

all: build

deps:
	@./tools/deps.sh

deps-test:
	@./tools/deps.sh --test

deps-deb:
	@./tools/deps.sh --deb

deps-sanitize:
	@./tools/deps.sh --sanitize

configure:
	@if [ ! -f "$(BUILD)/build.ninja" ]; then \
	  cmake -S . -B "$(BUILD)" -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) $(CMAKE_FLAGS); \
	fi

build: deps configure
	cmake --build "$(BUILD)"

run: deps configure
	cmake --build "$(BUILD)" --target programs
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
	cd "$(BUILD)" && ctest --output-on-failure --no-tests=error --timeout 600 -j2

# Hostile input on every change: a clang build with AddressSanitizer and UndefinedBehaviorSanitizer
# (in $(SANITIZE_BUILD)), the whole test suite under them, then every fuzz target for
# $(FUZZ_SECONDS) seconds on its seeds. Any finding fails.
sanitize: deps-sanitize
	@if [ ! -f "$(SANITIZE_BUILD)/build.ninja" ]; then \
	  CC=clang CXX=clang++ cmake -S . -B "$(SANITIZE_BUILD)" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	    -DTESSERA_SANITIZE=ON -DTESSERA_FUZZ=ON; \
	fi
	cmake --build "$(SANITIZE_BUILD)"
	cd "$(SANITIZE_BUILD)" && ctest --output-on-failure --no-tests=error --timeout 900 -j2
	fuzz/all.sh "$(SANITIZE_BUILD)/bin" $(FUZZ_SECONDS) 2

# The Debian packages here, tessera-report_<version>_<arch>.deb and tessera_<version>_<arch>.deb
# (tools/make-deb), checked by lintian: any error or warning fails. Install them with
# apt-get install ./tessera-report_*.deb ./tessera_*.deb
deb: deps-deb configure
	cmake --build "$(BUILD)"
	@debs=$$(tools/make-deb "$(BUILD)" .) && echo "$$debs" && \
	  lintian --fail-on error,warning --display-info --display-experimental --pedantic $$debs

clean:
	rm -rf "$(BUILD)"
