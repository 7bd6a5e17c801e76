#!/usr/bin/env bash
# Prepares a machine for building and testing: system packages, Python 3.13, .venv.
# Idempotent and quick when nothing is missing; `make` calls it before every build.
#   tools/bootstrap.sh [extra-requirements-file...]
set -euo pipefail
cd "$(dirname "$0")/.."

VENV=.venv
APT_PACKAGES=(g++ pkg-config libssl-dev libutf8proc-dev libgtest-dev)

say() { printf '[bootstrap] %s\n' "$*" >&2; }

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; return; fi
  say "missing system packages; run as root:"
  say "  sudo $*"
  exit 1
}

# ---- system packages ----------------------------------------------------------
missing=()
for p in "${APT_PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  say "installing ${missing[*]}"
  as_root apt-get update -qq
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
fi

# ---- Python 3.13 ---------------------------------------------------------------
find_python() {
  local c
  for c in python3.13 "${PYENV_ROOT:-$HOME/.pyenv}"/versions/3.13*/bin/python3.13 /usr/bin/python3.13; do
    if command -v "$c" >/dev/null 2>&1 && "$c" -c 'import sys; assert sys.version_info[:2] >= (3, 13)' 2>/dev/null; then
      command -v "$c"; return 0
    fi
  done
  return 1
}

if [ ! -x "$VENV/bin/python" ]; then
  if ! PY=$(find_python); then
    if apt-cache show python3.13-dev >/dev/null 2>&1; then
      say "installing Debian's python3.13"
      as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq python3.13-dev python3.13-venv >/dev/null
      PY=$(find_python)
    else
      say "no Python 3.13 found: install it (pyenv install 3.13, or your distribution's python3.13-dev and python3.13-venv)"
      exit 1
    fi
  fi
  say "creating $VENV from $PY"
  "$PY" -m venv "$VENV"
fi

# ---- Python packages -------------------------------------------------------------
reqs=(tools/requirements-dev.txt "$@")
stamp="$VENV/.requirements-$(cat "${reqs[@]}" | sha256sum | cut -c1-16)"
if [ ! -f "$stamp" ]; then
  args=()
  for r in "${reqs[@]}"; do args+=(-r "$r"); done
  say "pip install ${reqs[*]}"
  "$VENV/bin/python" -m pip install -q --disable-pip-version-check "${args[@]}"
  touch "$stamp"
fi
