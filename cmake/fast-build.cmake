# A cold build on a two-core machine spent most of its time in hundreds of
# small translation units, each reading the same heavy headers (nlohmann/json,
# GoogleTest, the standard library) and instantiating the same JSON and
# GoogleTest templates again. The native builds therefore compile each
# target's sources in unity batches: one translation unit a batch, so the
# headers are read and the templates made once a batch. Names in anonymous
# namespaces must differ across the files of one folder; a test folder whose
# files repeat them sets AREA_UNITY OFF in its deps.cmake. The Windows cross
# build and the fuzzers compile file by file, as before, so they also catch an
# include a file forgot.
#
# Precompiled headers were tried and left out: with debug information and the
# sanitizers GCC 12's are 120 to 170 MB, and loading one cost more than parsing
# the headers it held, in unity batches and single test files alike.
option(HOLVAR_FAST_BUILD "Unity builds for the native builds" ON)
set(HOLVAR_UNITY_BATCH_SIZE 8 CACHE STRING "Source files per unity translation unit")

if(NOT WIN32 AND NOT HOLVAR_FUZZ AND HOLVAR_FAST_BUILD)
    set(CMAKE_UNITY_BUILD ON)
    set(CMAKE_UNITY_BUILD_BATCH_SIZE ${HOLVAR_UNITY_BATCH_SIZE})
endif()
