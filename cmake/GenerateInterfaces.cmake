# Generates ROS 2 message packages from platform/interfaces/ at configure time.
#
# rosidl needs each message package installed before a package that depends on it can run
# find_package, so the packages are configured, built and installed one after another, in the
# order given, into one prefix inside the build tree. A package is rebuilt only when its own
# definitions, or those of a package before it, changed. The prefix is appended to
# CMAKE_PREFIX_PATH in the caller's scope so that plain find_package calls find the results.
include_guard(GLOBAL)

function(generate_interface_packages)
  cmake_parse_arguments(arg "" "PREFIX" "PACKAGES" ${ARGN})
  if(NOT arg_PACKAGES)
    return()
  endif()
  set(prefix "${arg_PREFIX}")
  set(source_root "${PROJECT_SOURCE_DIR}/platform/interfaces")
  find_program(_gi_python3 NAMES python3 PATHS /usr/bin NO_DEFAULT_PATH)
  if(DEFINED Python3_EXECUTABLE)
    set(_gi_python3 "${Python3_EXECUTABLE}")
  endif()
  find_program(_gi_ccache ccache)
  set(launcher_args "")
  if(_gi_ccache)
    set(launcher_args -DCMAKE_C_COMPILER_LAUNCHER=${_gi_ccache} -DCMAKE_CXX_COMPILER_LAUNCHER=${_gi_ccache})
  endif()

  set(chain_hash "")
  foreach(pkg IN LISTS arg_PACKAGES)
    set(src "${source_root}/${pkg}")
    if(NOT EXISTS "${src}/CMakeLists.txt")
      message(FATAL_ERROR "no message package '${pkg}' in ${source_root}")
    endif()
    file(GLOB inputs "${src}/msg/*.msg" "${src}/srv/*.srv")
    list(SORT inputs)
    list(APPEND inputs "${src}/CMakeLists.txt" "${src}/package.xml"
         "${source_root}/interface_package.cmake")
    set_property(DIRECTORY "${PROJECT_SOURCE_DIR}" APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${inputs})
    set(content "${chain_hash}")
    foreach(f IN LISTS inputs)
      file(READ "${f}" text)
      string(APPEND content "${f}\n${text}\n")
    endforeach()
    string(SHA256 chain_hash "${content}")

    set(build "${CMAKE_BINARY_DIR}/interfaces/${pkg}")
    set(stamp "${build}/generated.stamp")
    set(previous "")
    if(EXISTS "${stamp}")
      file(READ "${stamp}" previous)
    endif()
    if(NOT previous STREQUAL chain_hash OR NOT EXISTS "${prefix}/share/${pkg}/cmake")
      message(STATUS "Generating message package ${pkg}")
      execute_process(
        COMMAND "${CMAKE_COMMAND}" -S "${src}" -B "${build}" -G "${CMAKE_GENERATOR}"
                -DCMAKE_BUILD_TYPE=Release
                "-DCMAKE_INSTALL_PREFIX=${prefix}"
                "-DCMAKE_PREFIX_PATH=${prefix}"
                "-DPython3_EXECUTABLE=${_gi_python3}"
                "-DCMAKE_INSTALL_RPATH=\$ORIGIN"
                -DBUILD_TESTING=OFF
                ${launcher_args}
        RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
      if(rc EQUAL 0)
        execute_process(COMMAND "${CMAKE_COMMAND}" --build "${build}" --target install
                        RESULT_VARIABLE rc OUTPUT_VARIABLE out2 ERROR_VARIABLE out2)
        string(APPEND out "${out2}")
      endif()
      if(NOT rc EQUAL 0)
        message(FATAL_ERROR "Generating message package ${pkg} failed:\n${out}")
      endif()
      file(WRITE "${stamp}" "${chain_hash}")
    endif()
  endforeach()
  list(APPEND CMAKE_PREFIX_PATH "${prefix}")
  set(CMAKE_PREFIX_PATH "${CMAKE_PREFIX_PATH}" PARENT_SCOPE)
endfunction()
