# Shared by ./demo and ./test: installs what a command needs and is missing -
# Debian packages with apt-get, Python packages with pip into the project's own
# virtual environment (.venv/) - and nothing else. A second run finds everything
# in place and installs nothing. Sourced, not run.

NVF_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
NVF_VENV="$NVF_ROOT/.venv"
NVF_INSTALL=1
# The presets fix no job count: use every core unless the caller says otherwise.
export CMAKE_BUILD_PARALLEL_LEVEL="${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc 2>/dev/null || echo 2)}"
export CTEST_PARALLEL_LEVEL="${CTEST_PARALLEL_LEVEL:-$(nproc 2>/dev/null || echo 2)}"

nvf_parse_args() {
  for arg in "$@"; do
    case "$arg" in
      --no-install) NVF_INSTALL=0 ;;
      -h | --help)
        echo "usage: $0 [--no-install]"
        echo "  --no-install  install nothing (also NVFILTERING_NO_INSTALL=1); stop if something is missing"
        exit 0 ;;
      *) echo "$0: unknown argument '$arg' (try --help)" >&2; exit 2 ;;
    esac
  done
  if [ "${NVFILTERING_NO_INSTALL:-0}" != "0" ]; then NVF_INSTALL=0; fi
}

nvf_fail() {
  echo >&2
  echo "error: $1" >&2
  shift
  for line in "$@"; do echo "       $line" >&2; done
  exit 1
}

# cmake 3.25 or newer on PATH?
nvf_cmake_ok() {
  command -v cmake >/dev/null 2>&1 || return 1
  local v
  v="$(cmake --version | head -n1 | sed 's/[^0-9.]*\([0-9][0-9.]*\).*/\1/')"
  local major="${v%%.*}" rest="${v#*.}"
  local minor="${rest%%.*}"
  [ "$major" -gt 3 ] || { [ "$major" -eq 3 ] && [ "$minor" -ge 25 ]; }
}

# Debian packages the command needs; only the missing ones are installed.
# Each entry is "package:check", where check is a shell test that passes when
# what the package provides is already there (from Debian or elsewhere).
nvf_need_debs() {
  local missing=() entry pkg check
  for entry in "$@"; do
    pkg="${entry%%:*}"
    check="${entry#*:}"
    if [ "$check" = "$entry" ]; then check="dpkg -s $pkg >/dev/null 2>&1"; fi
    eval "$check" >/dev/null 2>&1 || missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local manual="apt-get update && apt-get install -y --no-install-recommends ${missing[*]}"
  if [ "$NVF_INSTALL" = 0 ]; then
    nvf_fail "missing Debian packages: ${missing[*]} (installation switched off)" "install them with: $manual"
  fi
  local sudo=()
  if [ "$(id -u)" != 0 ]; then
    if command -v sudo >/dev/null 2>&1 && sudo -n true 2>/dev/null; then
      sudo=(sudo -n)
    else
      nvf_fail "missing Debian packages: ${missing[*]}, and no root to install them" \
        "as root, run: $manual" "or rerun with --no-install once they are there"
    fi
  fi
  echo "-- installing Debian packages: ${missing[*]}"
  if ! "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q ||
     ! "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"; then
    nvf_fail "could not install the Debian packages: ${missing[*]} (no network or no package source?)" \
      "install them by hand: $manual"
  fi
}

# The project's virtual environment with the pinned packages of a requirements
# file; reinstalls only when the file changed since the last run.
nvf_need_venv() {
  local requirements="$1"
  local stamp="$NVF_VENV/.nvfiltering-requirements"
  if [ -x "$NVF_VENV/bin/python" ] && [ -f "$stamp" ] && cmp -s "$requirements" "$stamp"; then
    return 0
  fi
  if [ "$NVF_INSTALL" = 0 ]; then
    if [ -x "$NVF_VENV/bin/python" ]; then
      echo "-- $NVF_VENV may be out of date (installation switched off): using it as it is"
    else
      echo "-- no $NVF_VENV (installation switched off): the Python package is built only if CMake finds"
      echo "   Python 3 with its headers, NumPy and nanobind by itself"
    fi
    return 0
  fi
  if [ ! -x "$NVF_VENV/bin/python" ]; then
    echo "-- creating the virtual environment $NVF_VENV"
    python3 -m venv "$NVF_VENV" || nvf_fail "could not create $NVF_VENV" \
      "check that python3 and its venv module work: python3 -m venv .venv"
  fi
  echo "-- installing Python packages into $NVF_VENV: $(grep -v '^#' "$requirements" | tr '\n' ' ')"
  "$NVF_VENV/bin/python" -m pip install -q --upgrade pip >/dev/null 2>&1 || true
  if ! "$NVF_VENV/bin/python" -m pip install -q -r "$requirements"; then
    nvf_fail "could not install the Python packages of $requirements (no network?)" \
      "install them by hand: .venv/bin/python -m pip install -r ${requirements#"$NVF_ROOT"/}"
  fi
  cp "$requirements" "$stamp"
}

# Python 3 with venv and headers, from Debian where the machine has none.
NVF_PYTHON_DEBS=(
  "python3:command -v python3"
  "python3-venv:python3 -c 'import venv, ensurepip'"
  "python3-dev:python3 -c 'import sysconfig, os, sys; sys.exit(not os.path.exists(os.path.join(sysconfig.get_paths()[\"include\"], \"Python.h\")))'"
)
# A C++ compiler, make and a recent enough CMake.
NVF_BUILD_DEBS=(
  "g++:command -v g++"
  "make:command -v make"
  "cmake:nvf_cmake_ok"
)
