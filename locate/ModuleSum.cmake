# Writes FILE.sum beside a module: its size in bytes and its BLAKE2b-512 (coreutils' b2sum),
# which the loader (batch/LocatorLoader.cpp) checks before it maps the module. Run after the
# link, and again on the installed file, which the package strips.
#   cmake -DFILE=<module> -P ModuleSum.cmake
file(SIZE "${FILE}" size)
execute_process(COMMAND b2sum -- "${FILE}" OUTPUT_VARIABLE line COMMAND_ERROR_IS_FATAL ANY)
string(REGEX MATCH "^[0-9a-f]+" sum "${line}")
string(LENGTH "${sum}" length)
if(NOT length EQUAL 128)
  message(FATAL_ERROR "b2sum gave no BLAKE2b-512 for ${FILE}: ${line}")
endif()
file(WRITE "${FILE}.sum" "${size} ${sum}\n")
