# Entry points: `make run` and `make test` install what is missing, build, and go.
PRESET ?= default
BUILD_DIR := $(if $(filter asan,$(PRESET)),build-asan,build)
APP := $(BUILD_DIR)/Lumenor.app/Contents/MacOS/Lumenor

.PHONY: all setup configure build test run bench install clean format

all: build

setup:
	@sh scripts/setup

configure: setup
	@cmake --preset $(PRESET) >/dev/null

build: configure
	@cmake --build --preset $(PRESET)

test: build
	@ctest --preset $(PRESET)

run: build
	@if [ -x "$(APP)" ]; then \
		exec "$(APP)"; \
	else \
		echo "Built everything; the Lumenor app itself is not part of this tree yet."; \
	fi

bench: build
	@set -e; for b in $(BUILD_DIR)/bench/*Bench; do \
		[ -x "$$b" ] || continue; \
		echo "== $$(basename $$b) ($$(nproc) cores)"; \
		"$$b" --benchmark_counters_tabular=true; \
	done

install: build
	@sh scripts/install "$(BUILD_DIR)"

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	@rm -rf build build-asan
