# A thin front over the CMake presets. Every target first makes sure the
# Debian packages are there (scripts/install-deps.sh).

.PHONY: deps build test run bench asan tsan fuzz windows clean

deps:
	@./scripts/install-deps.sh

build: deps
	cmake --preset default
	cmake --build --preset default

test: build
	ctest --preset default

run: build
	./scripts/run-demo.sh build/release

bench: build
	./scripts/run-bench.sh build/release

asan: deps
	cmake --preset asan
	cmake --build --preset asan
	ctest --preset asan

tsan: deps
	cmake --preset tsan
	cmake --build --preset tsan
	ctest --preset tsan

fuzz: deps
	cmake --preset fuzz
	cmake --build --preset fuzz
	./scripts/run-fuzz.sh 60

# The Windows builds (mingw64, mingw32), cross-built and tested under wine.
windows: build
	./scripts/build-windows.sh

clean:
	rm -rf build
