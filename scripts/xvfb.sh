# Sourced by the scripts that need an X server where there is none: the one
# screen every headless run uses, the show's picture size at 24 bits. The
# build reads SPROX_XVFB_SCREEN from this file for the GL tests, and a test
# checks that it matches the show's picture size.
SPROX_XVFB_SCREEN="-screen 0 1280x720x24"

# Runs a command under a new Xvfb server with that screen (a function: to
# replace the shell, exec xvfb-run -a -s "$SPROX_XVFB_SCREEN" ... instead).
sprox_xvfb() { xvfb-run -a -s "$SPROX_XVFB_SCREEN" "$@"; }
