# make run:  build the program (Release, g++) and run it in this directory.
# make test: build and run every test, with g++ and with clang++.
PRESETS ?= gcc clang

.PHONY: build run test format

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

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')
