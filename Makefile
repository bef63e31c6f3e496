# The README's two commands. Both set everything up first: packages through
# scripts/install-deps.sh, then configure and build with the CMake presets.
.PHONY: all deps build test demo bench bench-million package clean

JOBS ?= $(shell nproc)

all: build

deps:
	@bash scripts/install-deps.sh

build: deps
	cmake --preset default
	cmake --build --preset default -j $(JOBS)

# Both presets, the whole suite in each; any failure fails the target.
test: deps
	cmake --preset default
	cmake --build --preset default -j $(JOBS)
	ctest --preset default
	cmake --preset asan
	cmake --build --preset asan -j $(JOBS)
	ctest --preset asan

demo: build
	bash demo/run-demo.sh

bench: build
	bash bench/run-bench.sh

# A million responses listed by lumo4410-cli next to findscu -q (a few
# minutes), and the window showing them.
bench-million: build
	bash bench/run-bench.sh million

# The Debian package (build/package/lumo4410_<version>_<arch>.deb), built by
# dpkg-buildpackage from a copy of the tree and checked by lintian.
package: deps
	JOBS=$(JOBS) bash scripts/build-package.sh

clean:
	rm -rf build
