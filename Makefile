# make run:   build the program (Release, g++) and run it in this directory.
# make test:  build and run every test, with g++ and with clang++.
# make bench: build with g++ (Release) and time the binary128 arithmetic against GCC's __float128.
PRESETS ?= gcc clang

.PHONY: build run test bench format

build:
	cmake --preset release
	cmake --build --preset release

run: build
	./build/rump

test:
	@set -e; for preset in $(PRESETS); do \
	  cmake --preset $$preset; \
	  cmake --build --preset $$preset; \
	  ctest --preset $$preset; \
	done

bench:
	cmake --preset gcc
	cmake --build --preset gcc --target binary128_bench
	./build-gcc/bench/binary128_bench

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')
