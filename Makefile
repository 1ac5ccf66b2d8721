# Set-up, demo and tests. `make demo` and `make test` work on a fresh clone: they create the
# virtual environment (CPython 3.12 or newer, found through pyenv when python3 is older),
# build the extension and run.
PYTHON_BIN := $(shell scripts/find_python.sh)
VENV := .venv
PY := $(VENV)/bin/python
JOBS ?= 2
CPP_BUILD := build/cpp

.PHONY: all venv install demo test test-cpp test-python clean

all: install

$(VENV)/.ready: pyproject.toml
	$(PYTHON_BIN) -m venv $(VENV)
	$(PY) -m pip install --quiet --upgrade pip
	$(PY) -m pip install --quiet "scikit-build-core>=0.9" cmake ninja pytest hypothesis
	touch $@

venv: $(VENV)/.ready

install: venv
	$(PY) -m pip install --quiet --no-build-isolation .

demo: install
	$(PY) -c "import sys, yomika_py; sys.stdout.write(yomika_py.parse_to_html(open('examples/sample.txt', encoding='utf-8').read()))"

test-cpp: venv
	cmake -S . -B $(CPP_BUILD) -DYOMIKA_BUILD_PYTHON=OFF -DYOMIKA_BUILD_TESTS=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	cmake --build $(CPP_BUILD) -j $(JOBS)
	$(CPP_BUILD)/yomika_tests

test-python: install
	$(PY) -m pytest -q

test: test-cpp test-python

clean:
	rm -rf build $(VENV)
