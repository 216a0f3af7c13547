# A thin front over the CMake presets. Every target first makes sure the
# Debian packages are there (scripts/install-deps.sh).

.PHONY: deps build test check-install run bench asan tsan fuzz clean

deps:
	@./scripts/install-deps.sh

build: deps
	cmake --preset default
	cmake --build --preset default

test: build
	ctest --preset default

# Installs into a temporary prefix and builds the examples against it.
check-install: build
	./scripts/check-install.sh build/release

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

clean:
	rm -rf build
