# The two set-up commands of the README are `make run` and `make test`; both install what is
# missing first.
BUILD      ?= build
TEST_BUILD ?= build/asan
FUZZ_BUILD ?= build/fuzz
JOBS       ?= $(shell nproc)
ARGS       ?=

.PHONY: deps configure build run test tsan bench fuzz format clean

deps:
	@scripts/install-deps

configure: deps
	@cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

run: build
	$(BUILD)/bin/mirravale $(ARGS)

test: deps
	@cmake -S . -B $(TEST_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DMIRRAVALE_SANITIZE=address,undefined >/dev/null
	@cmake --build $(TEST_BUILD) -j $(JOBS)
	cd $(TEST_BUILD) && ctest --output-on-failure -j $(JOBS) --timeout 600

# ThreadSanitizer build of the tests, run by hand.
tsan: deps
	@cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DMIRRAVALE_SANITIZE=thread >/dev/null
	@cmake --build build/tsan -j $(JOBS)
	cd build/tsan && ctest --output-on-failure -L core

bench: build
	@for b in $(BUILD)/bin/bench_*; do echo "== $$b"; $$b; done

fuzz: deps
	@CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMIRRAVALE_FUZZ=ON >/dev/null
	@cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzz_targets

format:
	@git ls-files '*.cpp' '*.hpp' | xargs clang-format -i

clean:
	rm -rf $(BUILD)
