# Sourced by the other scripts, from the repository's root, once
# scripts/setup.sh has run: the project's virtual environment comes first, so
# that python3, pip, cmake and ninja are its own, and on macOS CMake is shown
# Homebrew's OpenSSL, which Homebrew keeps out of the compiler's usual places.
export VIRTUAL_ENV="$PWD/.venv"
export PATH="$VIRTUAL_ENV/bin:$PATH"
if [ "$(uname -s)" = Darwin ]; then
  OPENSSL_ROOT_DIR=$(brew --prefix openssl@3)
  export OPENSSL_ROOT_DIR
fi
