# Entry points; each target installs what it needs first. See README.md.
BUILD  ?= build
JOBS   ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all deps build demo test sanitize fuzz-smoke ci clean

all: build

deps:
	@./scripts/install-deps.sh

build: deps
	@cmake -S . -B $(BUILD) -DCAMCTL_WERROR=ON $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BUILD) -j$(JOBS)

# The main job: the simulated camera, and the viewer on it once the viewer exists.
demo: build
	@./scripts/demo.sh $(BUILD)

test: build
	@cd $(BUILD) && ctest --output-on-failure -j$(JOBS)

# ASan+UBSan over every test, TSan over the threaded ones.
sanitize: deps
	@./scripts/sanitize.sh

# Every fuzz target for a short while, and every saved regression input.
fuzz-smoke: deps
	@./scripts/fuzz-smoke.sh

ci: test sanitize fuzz-smoke

clean:
	rm -rf build build-asan build-tsan build-fuzz
