# Entry points: `make run` and `make test` install what is missing, build, and go.
PRESET ?= default
# Every preset builds into build-<preset>, except the default one into build/.
BUILD_DIR := $(if $(filter default,$(PRESET)),build,build-$(PRESET))
SECONDS ?= 60
APP := $(BUILD_DIR)/bin/lumenor-app
TOOL := $(BUILD_DIR)/bin/lumenor

# make install: for this user by default; PREFIX=/usr/local for everyone; DESTDIR for staging.
# INSTALL_TREE names an already-built tree to install from instead of the release build.
PREFIX ?= $(HOME)/.local
DESTDIR ?=
INSTALL_TREE ?= build-release

.PHONY: all setup configure build test lint run bench fuzz release install uninstall package clean format

all: build

setup:
	@sh scripts/setup

configure: setup
	@cmake --preset $(PRESET) >/dev/null

build: configure
	@cmake --build --preset $(PRESET)

test: build
	@ctest --preset $(PRESET)
	@$(if $(filter default,$(PRESET)),$(MAKE) --no-print-directory lint)

# What a distribution checks, on a package made from this tree. Sanitizer trees are built
# without the hardening a package must have, so only the default tree is checked by `make test`.
lint: build
	@sh scripts/lint "$(BUILD_DIR)"

# Only the app and the command: the tests are built by `make test`.
run: configure
	@cmake --build $(BUILD_DIR) --target lumenor-app lumenor
	@echo "The lumenor command is $(CURDIR)/$(TOOL)"
	@echo "Try it from another shell:  $(CURDIR)/$(TOOL) status"
	@exec "$(APP)"

bench: build
	@set -e; for b in $(BUILD_DIR)/bench/*Bench; do \
		[ -x "$$b" ] || continue; \
		echo "== $$(basename $$b) ($$(nproc) cores)"; \
		"$$b" --benchmark_counters_tabular=true; \
	done
	@sh bench/wakeups.sh "$(BUILD_DIR)"
	@sh bench/ondemand.sh "$(BUILD_DIR)"

# Each fuzz target for $(SECONDS) seconds, starting from its seed corpus; what it learns stays in
# a scratch folder, so the corpus in the tree changes only by hand.
fuzz: setup
	@cmake --preset fuzz >/dev/null
	@cmake --build --preset fuzz
	@set -e; for f in build-fuzz/fuzz/*Fuzz; do \
		name=$$(basename $$f); scratch=$$(mktemp -d); \
		echo "== $$name for $(SECONDS) s"; \
		if "$$f" -max_total_time=$(SECONDS) -print_final_stats=1 -artifact_prefix=build-fuzz/ \
			"$$scratch" "fuzz/corpus/$$name" >"$$scratch.log" 2>&1; then \
			grep -E "^stat::(number_of_executed_units|new_units_added)" "$$scratch.log" || true; \
			rm -rf "$$scratch" "$$scratch.log"; \
		else \
			tail -n 40 "$$scratch.log"; rm -rf "$$scratch" "$$scratch.log"; exit 1; \
		fi; \
	done

# Optimised, stripped and without tests, in its own tree so that build/ stays as it is.
release: setup
	@cmake --preset release >/dev/null
	@cmake --build --preset release

install: $(if $(filter build-release,$(INSTALL_TREE)),release)
	@DESTDIR="$(DESTDIR)" sh scripts/install "$(INSTALL_TREE)" "$(PREFIX)"

uninstall:
	@cmake -DTREE="$(INSTALL_TREE)" -P cmake/Uninstall.cmake

package: release
	@cd build-release && cpack --config CPackConfig.cmake
	@ls build-release/package/*.deb

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	@rm -rf build build-asan build-tsan build-fuzz build-release
