# Sourced by the scripts that install, build and run the Windows programs:
# decides once which Windows build the tests and the demo run on, and why.
#   TESSALOOM_WINDOWS_ARCH  i686 (the shipped exe) or x86_64
#   TESSALOOM_WINDOWS_WHY   one sentence saying why
#   TESSALOOM_WINDOWS_PRESET  the CMake preset of that build
# Setting TESSALOOM_WINDOWS_ARCH beforehand forces the choice (to try the
# 64-bit path on a machine that could run 32-bit programs, say).
#
# 32-bit Wine needs a kernel that runs i386 programs, and some of our
# machines' kernels have IA-32 emulation switched off. The list of dpkg
# architectures says nothing about that, so ask the kernel: run a 93-byte
# static i386 program that exits with 42 and needs no library at all.
if [ -z "${TESSALOOM_WINDOWS_WHY:-}" ]; then
  if [ -n "${TESSALOOM_WINDOWS_ARCH:-}" ]; then
    TESSALOOM_WINDOWS_WHY="TESSALOOM_WINDOWS_ARCH=$TESSALOOM_WINDOWS_ARCH was set"
  else
    _probe=$(mktemp)
    printf '\177\105\114\106\001\001\001\000\000\000\000\000\000\000\000\000\002\000\003\000\001\000\000\000\124\200\004\010\064\000\000\000\000\000\000\000\000\000\000\000\064\000\040\000\001\000\000\000\000\000\000\000\001\000\000\000\000\000\000\000\000\200\004\010\000\200\004\010\135\000\000\000\135\000\000\000\005\000\000\000\000\020\000\000\061\333\263\052\061\300\100\315\200' >"$_probe"
    chmod +x "$_probe"
    _status=0
    "$_probe" 2>/dev/null || _status=$?
    rm -f "$_probe"
    if [ "$_status" -eq 42 ]; then
      TESSALOOM_WINDOWS_ARCH=i686
      TESSALOOM_WINDOWS_WHY="this machine runs 32-bit programs"
    else
      TESSALOOM_WINDOWS_ARCH=x86_64
      TESSALOOM_WINDOWS_WHY="this machine's kernel runs no 32-bit programs (a static i386 probe exited with $_status, not 42)"
    fi
    unset _probe _status
  fi
fi
case "$TESSALOOM_WINDOWS_ARCH" in
i686) TESSALOOM_WINDOWS_PRESET=windows ;;
x86_64) TESSALOOM_WINDOWS_PRESET=windows64 ;;
*)
  echo "TESSALOOM_WINDOWS_ARCH must be i686 or x86_64, not '$TESSALOOM_WINDOWS_ARCH'" >&2
  return 2 2>/dev/null || exit 2
  ;;
esac
export TESSALOOM_WINDOWS_ARCH TESSALOOM_WINDOWS_WHY TESSALOOM_WINDOWS_PRESET
