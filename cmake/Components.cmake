# A component is a folder modules/<name>/ (with sub-folders) whose sources
# form one static library named <name>. Components without sources yet are
# skipped, and so are dependencies on them, so the tree builds at every step.
set(TAV9_COMPONENTS "" CACHE INTERNAL "")

function(add_component name)
  cmake_parse_arguments(C "" "" "DEPS" ${ARGN})
  file(GLOB_RECURSE srcs CONFIGURE_DEPENDS
       ${PROJECT_SOURCE_DIR}/modules/${name}/*.cpp
       ${PROJECT_SOURCE_DIR}/modules/${name}/*.c)
  if(NOT srcs)
    return()
  endif()
  add_library(${name} STATIC ${srcs})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/modules)
  foreach(dep IN LISTS C_DEPS)
    if(TARGET ${dep} OR NOT dep MATCHES "^(host|platform|xml|measurement|awm|logging|can|xcp|virari|gui|display)$")
      target_link_libraries(${name} PUBLIC ${dep})
    endif()
  endforeach()
  set(TAV9_COMPONENTS ${TAV9_COMPONENTS} ${name} CACHE INTERNAL "")
endfunction()

# tests/<component>/*.cpp become one GoogleTest program test_<component>,
# linked with its component (and so with everything below it).
function(add_component_tests)
  foreach(name IN LISTS TAV9_COMPONENTS)
    file(GLOB_RECURSE tsrcs CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/${name}/*.cpp)
    if(NOT tsrcs)
      continue()
    endif()
    add_executable(test_${name} ${tsrcs})
    target_include_directories(test_${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
    target_link_libraries(test_${name} PRIVATE ${name} GTest::gtest GTest::gtest_main GTest::gmock)
    if(name STREQUAL "gui")
      target_link_libraries(test_${name} PRIVATE ZLIB::ZLIB PNG::PNG)
    endif()
    gtest_discover_tests(test_${name}
      WORKING_DIRECTORY ${PROJECT_BINARY_DIR}
      # one variable a property: the discovery splits a value at every ';',
      # and a second variable in the same value would be lost
      PROPERTIES ENVIRONMENT "TAV9_SOURCE_DIR=${PROJECT_SOURCE_DIR}"
                 ENVIRONMENT_MODIFICATION "TAV9_BINARY_DIR=set:${PROJECT_BINARY_DIR}"
      DISCOVERY_TIMEOUT 60)
  endforeach()
endfunction()
