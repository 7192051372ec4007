# Writes FILE.sum beside a module: its size in bytes and its SHA-256, which the loader
# (batch/LocatorLoader.cpp) checks before it maps the module. Run after the link, and
# again on the installed file, which the package strips.
#   cmake -DFILE=<module> -P ModuleSum.cmake
file(SIZE "${FILE}" size)
file(SHA256 "${FILE}" sum)
file(WRITE "${FILE}.sum" "${size} ${sum}\n")
