# Entry points: `make run` and `make test` install what is missing, build, and go.
PRESET ?= default
# Every preset but the default builds in build-<preset>.
BUILD_DIR := $(if $(filter default,$(PRESET)),build,build-$(PRESET))
SECONDS ?= 60
APP := $(BUILD_DIR)/Lumenor.app/Contents/MacOS/Lumenor

.PHONY: all setup configure build test run bench fuzz install clean format

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

install: build
	@sh scripts/install "$(BUILD_DIR)"

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	@rm -rf build build-asan build-tsan build-fuzz
