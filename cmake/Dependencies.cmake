# Third-party libraries. Linux: Debian packages. Windows: static builds from the
# Debian source packages (scripts/windeps.sh), found through CMAKE_PREFIX_PATH.
find_package(Threads REQUIRED)
find_package(pugixml CONFIG REQUIRED)
find_package(fmt CONFIG REQUIRED)
find_package(nlohmann_json CONFIG REQUIRED)
# libcurl: the CMake package of the Windows build (static, Schannel), else
# CMake's own module over the Debian package.
find_package(CURL CONFIG QUIET)
if(NOT CURL_FOUND)
  find_package(CURL REQUIRED)
endif()

# libzip: tblo.zip and the installer archive, as the target libzip::zip. The
# static Windows build links zlib through ZLIB::ZLIB, which its package file
# does not look for itself; Debian's package file names command-line tools of
# another package, so Linux takes the library through pkg-config.
if(WIN32)
  find_package(ZLIB REQUIRED)
  find_package(libzip CONFIG REQUIRED)
else()
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(LIBZIP REQUIRED IMPORTED_TARGET libzip)
  add_library(libzip::zip ALIAS PkgConfig::LIBZIP)
endif()

find_path(SODIUM_INCLUDE_DIR sodium.h REQUIRED)
find_library(SODIUM_LIBRARY NAMES sodium libsodium REQUIRED)
add_library(vntx_sodium INTERFACE)
target_include_directories(vntx_sodium INTERFACE ${SODIUM_INCLUDE_DIR})
target_link_libraries(vntx_sodium INTERFACE ${SODIUM_LIBRARY})
if(WIN32)
  target_compile_definitions(vntx_sodium INTERFACE SODIUM_STATIC)
endif()

if(VNTX_BUILD_TESTS)
  find_package(GTest REQUIRED)
  include(GoogleTest)
endif()
if(VNTX_BUILD_BENCH)
  find_package(benchmark QUIET)
  if(NOT benchmark_FOUND)
    message(STATUS "Google Benchmark not found: benchmarks are not built")
    set(VNTX_BUILD_BENCH OFF)
  endif()
endif()
