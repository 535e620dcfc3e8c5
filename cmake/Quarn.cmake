# Build helpers shared by every folder.
#
# quarn_library(NAME PORTABLE <sources> WINDOWS <sources> LINK <targets>)
#   One folder's static library (an interface library when this tree compiles none of its
#   sources). The native build compiles only the PORTABLE sources (code that needs no
#   operating system); the Windows build compiles both lists. LINK names the layers below
#   that the folder uses and the system libraries it needs; the quarn_ targets in it are also
#   the folders whose headers it may include (see quarn_check_layers).
# quarn_check_layers()
#   Called once every folder has its library: fails the configuration when a source of one
#   folder includes a header of a folder it does not link, directly or through the layers
#   below, and registers the same scan as the CTest test "layers".
# quarn_test(AREA PORTABLE <sources> WINDOWS <sources> LINK <targets>)
#   One GoogleTest executable per area, test_AREA. The Windows build registers it as
#   "wine.AREA" (run through tools/wine-run); when QUARN_NATIVE_DIR is set, the native build's
#   executable of the same area as "native.AREA"; and when QUARN_WIN64_DIR is set, the 64-bit
#   build's as "wine64.AREA", which runs only where 32-bit programs cannot. One CTest run
#   lists them all. Their environment gives them a private display and ALSA's null sound
#   device (QUARN_NULL_AUDIO=1, see tools/wine-run).
# quarn_bench(NAME <sources> LINK <targets> [NATIVE_ONLY])
#   A Google Benchmark executable, in a tree configured with QUARN_BENCH only (`make bench`):
#   the native one, and the Windows ones (32-bit, and 64-bit where 32-bit programs cannot
#   run), whose anchors setup cross-builds. NATIVE_ONLY: a benchmark of the native seams
#   (sockets, POSIX files) that has no Windows form.
# quarn_wine_bench(NAME <sources> LINK <targets>)
#   A benchmark program of the Windows builds with its own timing and summary, for what only
#   Windows has (WinSock, the Direct3D device); `make bench` runs it under Wine.
# quarn_fuzz(NAME <sources> LINK <targets>)
#   A libFuzzer target, fuzz_NAME, in the native build with QUARN_FUZZ only (`make fuzz`);
#   its seed corpus is tests/fuzz/corpus/NAME.

set(QUARN_ROOT ${CMAKE_CURRENT_LIST_DIR}/..)

# The sources this tree compiles: PORTABLE always, WINDOWS in the Windows build only.
macro(quarn_pick_sources out)
  set(${out} ${A_PORTABLE})
  if(QUARN_WINDOWS)
    list(APPEND ${out} ${A_WINDOWS})
  endif()
endmacro()

function(quarn_library name)
  cmake_parse_arguments(A "" "" "PORTABLE;WINDOWS;LINK" ${ARGN})
  quarn_pick_sources(srcs)
  if(srcs)
    add_library(${name} STATIC ${srcs})
    target_include_directories(${name} PUBLIC ${QUARN_ROOT})
    target_link_libraries(${name} PUBLIC ${A_LINK})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${QUARN_ROOT})
    target_link_libraries(${name} INTERFACE ${A_LINK})
  endif()
  # The layers this folder stands on, for the include check.
  set(layers "")
  foreach(item ${A_LINK})
    # Libraries from outside (quarn_dep_*) are no layers.
    if(item MATCHES "^quarn_dep_" OR item STREQUAL "quarn_lib")
      continue()
    endif()
    if(item MATCHES "^quarn_(.+)$")
      list(APPEND layers ${CMAKE_MATCH_1})
    endif()
  endforeach()
  if(name MATCHES "^quarn_(.+)$" AND NOT name STREQUAL "quarn_lib")
    set_property(GLOBAL APPEND PROPERTY QUARN_LAYERS ${CMAKE_MATCH_1})
    set_property(GLOBAL PROPERTY QUARN_LAYER_${CMAKE_MATCH_1} "${layers}")
  endif()
endfunction()

function(quarn_check_layers)
  get_property(folders GLOBAL PROPERTY QUARN_LAYERS)
  set(out "set(QUARN_LAYERS ${folders})\n")
  foreach(folder ${folders})
    get_property(below GLOBAL PROPERTY QUARN_LAYER_${folder})
    string(APPEND out "set(QUARN_LAYER_${folder} ${below})\n")
  endforeach()
  set(file ${CMAKE_BINARY_DIR}/quarn_layers.cmake)
  file(WRITE ${file} "${out}")
  set(QUARN_LAYER_FILE ${file})
  include(${QUARN_ROOT}/cmake/CheckLayers.cmake)
  add_test(NAME layers COMMAND ${CMAKE_COMMAND} -DQUARN_ROOT=${QUARN_ROOT}
    -DQUARN_LAYER_FILE=${file} -P ${QUARN_ROOT}/cmake/CheckLayers.cmake)
endfunction()

# Registers an area's Windows test executable as "wine.NAME" and, where 32-bit programs cannot
# run, the 64-bit build's as "wine64.NAME", with the given arguments and environment.
function(quarn_register_wine_test area name arguments environment)
  set(exe test_${area})
  set(env "QUARN_PRIVATE_DISPLAY=1;${environment}")
  # tools/wine-test runs it through tools/wine-run and goes on after a test that ends the process.
  add_test(NAME wine.${name} COMMAND ${QUARN_ROOT}/tools/wine-test $<TARGET_FILE:${exe}> ${arguments})
  # Windows tests on one display and one wineserver run one at a time: tools/wine-test gives
  # each a lane, a display and prefix of its own (tools/wine-run), the first one free of the
  # lanes `make test` names; run without them, the tests keep to lane 0, one at a time.
  # tools/wine-run exits with 77 on a machine that cannot run 32-bit programs.
  set_tests_properties(wine.${name} PROPERTIES LABELS wine
    ENVIRONMENT "${env}" SKIP_RETURN_CODE 77)
  # Where 32-bit programs cannot run, the 64-bit build's executable of the same area runs
  # instead, as "wine64.NAME"; wherever they can, it reports itself skipped.
  if(QUARN_WIN64_DIR)
    add_test(NAME wine64.${name} COMMAND ${QUARN_ROOT}/tools/wine-test --instead-of-32
      ${QUARN_WIN64_DIR}/tests/${exe}.exe ${arguments})
    set_tests_properties(wine64.${name} PROPERTIES LABELS wine
      ENVIRONMENT "${env}" SKIP_RETURN_CODE 77)
  endif()
endfunction()

# quarn_wine_test_variant(AREA NAME ARGS <arguments> ENVIRONMENT <VAR=value>...)
#   One more run of an area's Windows tests, "wine.NAME" (and "wine64.NAME"), with its own
#   arguments (a test filter) and environment, e.g. without a sound device.
function(quarn_wine_test_variant area name)
  cmake_parse_arguments(A "" "" "ARGS;ENVIRONMENT" ${ARGN})
  if(QUARN_WINDOWS)
    quarn_register_wine_test(${area} ${name} "${A_ARGS}" "${A_ENVIRONMENT}")
  endif()
endfunction()

# LONG marks an area whose Windows tests take much longer than the others': CTest starts them
# first, so that the short ones fill the other lanes beside them rather than after them.
# APART names Windows tests (GoogleTest names) long enough to run beside the rest of their
# area as a CTest entry of their own, "wine.AREA_apart", in another lane.
function(quarn_test area)
  cmake_parse_arguments(A "LONG" "" "PORTABLE;WINDOWS;LINK;APART" ${ARGN})
  quarn_pick_sources(srcs)
  if(NOT srcs)
    return()
  endif()
  set(exe test_${area})
  add_executable(${exe} ${srcs})
  target_link_libraries(${exe} PRIVATE ${A_LINK} GTest::gtest_main GTest::gmock)
  # Tests include shared helpers as "tests/...", whatever they link.
  target_include_directories(${exe} PRIVATE ${QUARN_ROOT})
  set_target_properties(${exe} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  target_compile_definitions(${exe} PRIVATE QUARN_TEST_DATA="${QUARN_ROOT}/tests/data")
  if(QUARN_WINDOWS)
    set(names ${area})
    if(A_APART)
      list(JOIN A_APART ":" apart)
      quarn_register_wine_test(${area} ${area} "--gtest_filter=-${apart}" "QUARN_NULL_AUDIO=1")
      quarn_register_wine_test(${area} ${area}_apart "--gtest_filter=${apart}" "QUARN_NULL_AUDIO=1")
      list(APPEND names ${area}_apart)
    else()
      quarn_register_wine_test(${area} ${area} "" "QUARN_NULL_AUDIO=1")
    endif()
    if(A_LONG)
      foreach(name ${names})
        set_tests_properties(wine.${name} PROPERTIES COST 1000)
        if(QUARN_WIN64_DIR)
          set_tests_properties(wine64.${name} PROPERTIES COST 1000)
        endif()
      endforeach()
    endif()
    if(QUARN_NATIVE_DIR AND A_PORTABLE)
      add_test(NAME native.${area} COMMAND ${QUARN_NATIVE_DIR}/tests/${exe})
      set_tests_properties(native.${area} PROPERTIES LABELS native)
    endif()
  else()
    add_test(NAME native.${area} COMMAND ${exe})
    set_tests_properties(native.${area} PROPERTIES LABELS native)
  endif()
endfunction()

function(quarn_bench name)
  cmake_parse_arguments(A "NATIVE_ONLY" "" "LINK" ${ARGN})
  if(NOT QUARN_BENCH OR (QUARN_WINDOWS AND A_NATIVE_ONLY))
    return()
  endif()
  add_executable(${name} ${A_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE ${A_LINK} benchmark::benchmark benchmark::benchmark_main)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
  add_dependencies(quarn_benchmarks ${name})
endfunction()

function(quarn_wine_bench name)
  cmake_parse_arguments(A "" "" "LINK" ${ARGN})
  if(NOT QUARN_WINDOWS)
    return()
  endif()
  add_executable(${name} ${A_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE ${A_LINK})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
  if(TARGET quarn_benchmarks)
    add_dependencies(quarn_benchmarks ${name})
  endif()
endfunction()

function(quarn_fuzz name)
  cmake_parse_arguments(A "" "" "LINK" ${ARGN})
  if(QUARN_WINDOWS OR NOT QUARN_FUZZ)
    return()
  endif()
  set(exe fuzz_${name})
  add_executable(${exe} ${A_UNPARSED_ARGUMENTS})
  target_link_libraries(${exe} PRIVATE ${A_LINK})
  target_link_options(${exe} PRIVATE -fsanitize=fuzzer)
  set_target_properties(${exe} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
  add_dependencies(quarn_fuzzers ${exe})
endfunction()

# Libraries cross-built by tools/setup into .deps/prefix (32-bit Windows build) or
# .deps/prefix-x86_64 (64-bit test build), or the system's.
if(QUARN_WINDOWS)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(QUARN_DEPS ${QUARN_ROOT}/.deps/prefix-x86_64)
  else()
    set(QUARN_DEPS ${QUARN_ROOT}/.deps/prefix)
  endif()
  foreach(lib png16 jpeg ogg vorbis vorbisfile vorbisenc theoradec theoraenc)
    add_library(quarn_dep_${lib} STATIC IMPORTED GLOBAL)
    set_target_properties(quarn_dep_${lib} PROPERTIES
      IMPORTED_LOCATION ${QUARN_DEPS}/lib/lib${lib}.a
      INTERFACE_INCLUDE_DIRECTORIES ${QUARN_DEPS}/include)
  endforeach()
  find_library(QUARN_ZLIB NAMES libz.a z REQUIRED)
  set_target_properties(quarn_dep_png16 PROPERTIES INTERFACE_LINK_LIBRARIES ${QUARN_ZLIB})
  set_target_properties(quarn_dep_vorbis PROPERTIES INTERFACE_LINK_LIBRARIES quarn_dep_ogg)
  set_target_properties(quarn_dep_vorbisfile PROPERTIES INTERFACE_LINK_LIBRARIES quarn_dep_vorbis)
  set_target_properties(quarn_dep_vorbisenc PROPERTIES INTERFACE_LINK_LIBRARIES quarn_dep_vorbis)
  set_target_properties(quarn_dep_theoradec PROPERTIES INTERFACE_LINK_LIBRARIES quarn_dep_ogg)
  set_target_properties(quarn_dep_theoraenc PROPERTIES INTERFACE_LINK_LIBRARIES quarn_dep_theoradec)
  if(QUARN_BENCH)
    # The benchmarks' anchors, cross-built by `tools/setup --bench`.
    foreach(lib pixman-1 gmp)
      add_library(quarn_dep_${lib} STATIC IMPORTED GLOBAL)
      set_target_properties(quarn_dep_${lib} PROPERTIES
        IMPORTED_LOCATION ${QUARN_DEPS}/lib/lib${lib}.a
        INTERFACE_INCLUDE_DIRECTORIES "${QUARN_DEPS}/include;${QUARN_DEPS}/include/pixman-1")
    endforeach()
    find_package(benchmark REQUIRED PATHS ${QUARN_DEPS} NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
  endif()
else()
  # The native build takes the system's libpng and libjpeg under the same names.
  find_package(PNG REQUIRED)
  find_package(JPEG REQUIRED)
  add_library(quarn_dep_png16 INTERFACE IMPORTED GLOBAL)
  set_target_properties(quarn_dep_png16 PROPERTIES INTERFACE_LINK_LIBRARIES PNG::PNG)
  add_library(quarn_dep_jpeg INTERFACE IMPORTED GLOBAL)
  set_target_properties(quarn_dep_jpeg PROPERTIES INTERFACE_LINK_LIBRARIES JPEG::JPEG)
  # The Ogg video decoder's glue is portable: the system's libogg and libtheora (the encoder
  # only for the tests' clips).
  foreach(lib ogg theoradec theoraenc)
    find_library(QUARN_LIB_${lib} ${lib} REQUIRED)
    add_library(quarn_dep_${lib} INTERFACE IMPORTED GLOBAL)
    set_target_properties(quarn_dep_${lib} PROPERTIES INTERFACE_LINK_LIBRARIES ${QUARN_LIB_${lib}})
  endforeach()
  set_target_properties(quarn_dep_theoradec PROPERTIES INTERFACE_LINK_LIBRARIES "${QUARN_LIB_theoradec};quarn_dep_ogg")
  set_target_properties(quarn_dep_theoraenc PROPERTIES INTERFACE_LINK_LIBRARIES "${QUARN_LIB_theoraenc};quarn_dep_theoradec")
  # Debian's Ogg and Vorbis (the decoder glue is portable; the encoder makes test files).
  find_package(PkgConfig REQUIRED)
  foreach(lib vorbisfile vorbisenc)
    # Named with what they stand on: Debian's .pc files keep those private.
    pkg_check_modules(QUARN_${lib} REQUIRED IMPORTED_TARGET GLOBAL ${lib} vorbis ogg)
    add_library(quarn_dep_${lib} INTERFACE IMPORTED GLOBAL)
    set_target_properties(quarn_dep_${lib} PROPERTIES INTERFACE_LINK_LIBRARIES PkgConfig::QUARN_${lib})
  endforeach()
  if(QUARN_BENCH)
    # The benchmarks' anchors: the system's pixman, GMP and Google Benchmark.
    pkg_check_modules(QUARN_PIXMAN REQUIRED IMPORTED_TARGET GLOBAL pixman-1)
    add_library(quarn_dep_pixman-1 INTERFACE IMPORTED GLOBAL)
    set_target_properties(quarn_dep_pixman-1 PROPERTIES INTERFACE_LINK_LIBRARIES PkgConfig::QUARN_PIXMAN)
    find_library(QUARN_GMP gmp REQUIRED)
    add_library(quarn_dep_gmp INTERFACE IMPORTED GLOBAL)
    set_target_properties(quarn_dep_gmp PROPERTIES INTERFACE_LINK_LIBRARIES ${QUARN_GMP})
    find_package(benchmark REQUIRED)
  endif()
endif()
