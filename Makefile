# A thin front over the CMake presets. Every target first makes sure the
# Debian packages are there (scripts/install-deps.sh).

.PHONY: deps build test check-install run bench asan tsan stress fuzz windows clean

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

# Blend2D joins the scene benchmark where its sources are at hand.
bench: deps
	@if [ -f ../shared/tools/build-blend2d.sh ]; then bash ../shared/tools/build-blend2d.sh; fi
	$(MAKE) build
	./scripts/run-bench.sh build/release

asan: deps
	cmake --preset asan
	cmake --build --preset asan
	ctest --preset asan

# ThreadSanitizer checks the suites that start threads; the image and sprite
# suites run on one thread and are checked under the other sanitizers.
tsan: deps
	cmake --preset tsan
	cmake --build --preset tsan --target base_tests text_tests screen_tests window_tests app_tests
	ctest --preset tsan -L '^(base|text|screen|window|app)$$'

# The concurrency stress test for a minute under each sanitizer (CI runs it
# for two seconds as part of the suites).
stress: deps
	cmake --preset asan && cmake --build --preset asan
	cmake --preset tsan && cmake --build --preset tsan
	NUBRIK_STRESS_SECONDS=60 ctest --preset asan -R StressTest
	NUBRIK_STRESS_SECONDS=60 ctest --preset tsan -R StressTest

fuzz: deps
	cmake --preset fuzz
	cmake --build --preset fuzz --target png_loader_fuzz png_seeds
	./scripts/run-fuzz.sh 60

# The Windows builds (mingw64, mingw32), cross-built and tested under wine.
windows: build
	./scripts/build-windows.sh

clean:
	rm -rf build
