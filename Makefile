# Thin wrapper over CMake presets: `make run`, `make test`, `make bench`.
.PHONY: all deps configure build apps kernel run test memcheck bench fuzz format clean

all: build

deps:
	@bash scripts/install-deps.sh

configure: deps
	@cmake --preset default >/dev/null

build: configure
	@cmake --build --preset default

# Only the three executables: what `make run` needs.
apps: configure
	@cmake --build --preset default --target tarnwick-app tarnwick-helper tarnwick

kernel:
	@bash scripts/provision-mihomo.sh >/dev/null
	@bash scripts/provision-geodata.sh >/dev/null
	@bash scripts/provision-asn.sh >/dev/null
	@bash scripts/provision-world.sh >/dev/null

run: apps
	@bash scripts/run-app.sh

test: build kernel memcheck
	@ctest --preset default

# The YAML library manages lifetimes by hand (arena reference counts, values holding their payload in
# place), and the controller's streams may be dropped by their consumer inside their own signals: these
# tests and the compiler's run again under AddressSanitizer, LeakSanitizer and UBSan.
memcheck: deps
	@cmake --preset asan >/dev/null
	@cmake --build --preset asan --target yaml_tests config_tests controller_tests
	@UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 build-asan/tests/config/yaml/yaml_tests --gtest_brief=1
	@UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 build-asan/tests/config/config_tests --gtest_brief=1
	@UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 build-asan/tests/controller/controller_tests --gtest_brief=1

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
