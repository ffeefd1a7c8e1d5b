# The one version record every program reads (the About box and each --version): generates
# app/version_record.h under the build folder from the product's name and version, and the
# interface library vintrel_version that puts it on a target's include path.
#   vintrel_version_record(NAME MAJOR.MINOR[...])
# vintrel_project_version(VAR) reads the version project() gives in the top CMakeLists.txt, for
# builds made apart from it (the fuzz targets).
set(vintrel_version_record_dir ${CMAKE_CURRENT_LIST_DIR}/..)

function(vintrel_version_record name version)
  string(REGEX MATCH "^([0-9]+)\\.([0-9]+)" parts "${version}")
  set(PROJECT_NAME "${name}")
  set(VINTREL_PRODUCT_VERSION "${CMAKE_MATCH_1}.${CMAKE_MATCH_2}")
  configure_file(${vintrel_version_record_dir}/app/version_record.h.in
                 ${PROJECT_BINARY_DIR}/generated/app/version_record.h @ONLY)
  add_library(vintrel_version INTERFACE)
  target_include_directories(vintrel_version INTERFACE ${vintrel_version_record_dir}
                             ${PROJECT_BINARY_DIR}/generated)
endfunction()

function(vintrel_project_version var)
  file(STRINGS ${vintrel_version_record_dir}/CMakeLists.txt line REGEX "^project\\(Vintrel VERSION ")
  string(REGEX MATCH "VERSION ([0-9.]+)" found "${line}")
  if(NOT found)
    message(FATAL_ERROR "no project(Vintrel VERSION ...) in ${vintrel_version_record_dir}/CMakeLists.txt")
  endif()
  set(${var} "${CMAKE_MATCH_1}" PARENT_SCOPE)
endfunction()
