# Fails when the executable is larger than MAX_BYTES: the updater is
# downloaded and started often, and its pictures are meant to stay packed.
cmake_minimum_required(VERSION 3.25)
file(SIZE ${EXE} size)
math(EXPR kib "${size} / 1024")
if(size GREATER MAX_BYTES)
  message(FATAL_ERROR "${EXE} is ${size} bytes (${kib} KiB), more than ${MAX_BYTES}")
endif()
message(STATUS "${EXE} is ${size} bytes (${kib} KiB), at most ${MAX_BYTES}")
