# What a cross-build for Windows takes from the build host's Debian packages:
# header-only nlohmann-json and GoogleTest's sources, built here with the
# mingw compilers (the host's libgtest is a Linux library).

# The JSON headers sit in /usr/include beside glibc's, which must not reach
# the mingw compiler: expose that one folder through a link of its own.
set(_json_root ${CMAKE_BINARY_DIR}/third_party/include)
file(MAKE_DIRECTORY ${_json_root})
if(NOT EXISTS ${_json_root}/nlohmann)
  file(CREATE_LINK /usr/include/nlohmann ${_json_root}/nlohmann SYMBOLIC)
endif()
add_library(nlohmann_json INTERFACE)
target_include_directories(nlohmann_json SYSTEM INTERFACE ${_json_root})
add_library(nlohmann_json::nlohmann_json ALIAS nlohmann_json)

if(QUILLARO_TESTS)
  set(QUILLARO_GTEST_SOURCE /usr/src/googletest
      CACHE PATH "GoogleTest's sources (Debian googletest)")
  if(NOT EXISTS ${QUILLARO_GTEST_SOURCE}/CMakeLists.txt)
    message(FATAL_ERROR
            "No GoogleTest sources in ${QUILLARO_GTEST_SOURCE}: apt-get install googletest")
  endif()
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(${QUILLARO_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  # GoogleTest's own build defines the GTest:: names.
  foreach(target gtest gtest_main)
    if(NOT TARGET GTest::${target})
      add_library(GTest::${target} ALIAS ${target})
    endif()
  endforeach()
  set(GTest_FOUND TRUE)
endif()

# SQLite for the ledger, cross-built from Debian's source and cached by
# scripts/build_windows_sqlite.sh, which prints the folder to give here.
if(QUILLARO_LEDGER)
  set(QUILLARO_WINDOWS_SQLITE "" CACHE PATH
      "SQLite for Windows (include/, lib/libsqlite3.a), from scripts/build_windows_sqlite.sh")
  if(NOT EXISTS "${QUILLARO_WINDOWS_SQLITE}/lib/libsqlite3.a")
    message(FATAL_ERROR "No Windows SQLite in '${QUILLARO_WINDOWS_SQLITE}': run "
            "scripts/build_windows_sqlite.sh and pass -DQUILLARO_WINDOWS_SQLITE=<the folder it "
            "prints>, or -DQUILLARO_LEDGER=OFF for a build without the ledger")
  endif()
  add_library(SQLite::SQLite3 STATIC IMPORTED)
  set_target_properties(SQLite::SQLite3 PROPERTIES
    IMPORTED_LOCATION "${QUILLARO_WINDOWS_SQLITE}/lib/libsqlite3.a")
  target_include_directories(SQLite::SQLite3 SYSTEM INTERFACE "${QUILLARO_WINDOWS_SQLITE}/include")
endif()
