# Thin wrapper over CMake presets: `make run`, `make test`, `make bench`.
.PHONY: all deps build kernel run test bench fuzz format clean

all: build

deps:
	@bash scripts/install-deps.sh

build: deps
	@cmake --preset default >/dev/null
	@cmake --build --preset default

kernel:
	@bash scripts/provision-mihomo.sh >/dev/null
	@bash scripts/provision-geodata.sh >/dev/null

run: build
	@bash scripts/run-app.sh

test: build kernel
	@ctest --preset default

bench: deps
	@cmake --preset bench >/dev/null
	@cmake --build --preset bench
	@bash scripts/run-bench.sh

fuzz: deps
	@cmake --preset fuzz >/dev/null
	@cmake --build --preset fuzz

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	@rm -rf build build-asan build-bench build-fuzz
