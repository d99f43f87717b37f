# Top-level entry points: `make demo` and `make test`.
JOBS ?= $(shell nproc)

.PHONY: all deps build build-asan test demo bench fuzz clean

all: build

deps:
	@scripts/install-deps

build: deps
	cmake --preset default
	cmake --build --preset default -j $(JOBS)

build-asan: deps
	cmake --preset asan
	cmake --build --preset asan -j $(JOBS)

test: build build-asan
	ctest --preset default
	ctest --preset asan

demo: build
	scripts/demo

bench: deps
	cmake --preset bench
	cmake --build --preset bench -j $(JOBS)
	scripts/run-bench

fuzz: deps
	cmake --preset fuzz
	cmake --build --preset fuzz -j $(JOBS)
	scripts/run-fuzz

clean:
	rm -rf build
