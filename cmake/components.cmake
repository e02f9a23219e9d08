# One static library per subsystem folder, its sources found by glob so that a new
# file needs no edit here. lu_component(<name> <folder> [DEPS <targets>...])
function(lu_component name folder)
  cmake_parse_arguments(ARG "" "" "DEPS;EXTRA_DIRS" ${ARGN})
  set(globs ${CMAKE_SOURCE_DIR}/src/${folder}/*.cpp)
  foreach(d IN LISTS ARG_EXTRA_DIRS)
    list(APPEND globs ${CMAKE_SOURCE_DIR}/src/${folder}/${d}/*.cpp)
  endforeach()
  file(GLOB sources CONFIGURE_DEPENDS ${globs})
  if(sources)
    add_library(${name} STATIC ${sources})
    target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR}/src ${CMAKE_BINARY_DIR}/generated)
    target_link_libraries(${name} PUBLIC ${ARG_DEPS})
  else()
    # A subsystem still without sources is an interface that only forwards.
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${CMAKE_SOURCE_DIR}/src ${CMAKE_BINARY_DIR}/generated)
    target_link_libraries(${name} INTERFACE ${ARG_DEPS})
  endif()
endfunction()

# A program of the project: the embedded resources go into every executable
# (Windows resources are per image and are not pulled from static libraries).
function(lu_program name)
  cmake_parse_arguments(ARG "GUI" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS})
  lu_embed_resources(${name})
  if(WIN32 AND ARG_GUI)
    set_target_properties(${name} PROPERTIES WIN32_EXECUTABLE ON)
  endif()
  # A release program ships without its symbol table: it goes to <program>.debug
  # beside it (named in the program for debuggers), to read crash addresses with.
  # Unreferenced sections of the static libraries are left out too.
  if(CMAKE_BUILD_TYPE STREQUAL "Release" AND CMAKE_OBJCOPY)
    target_link_options(${name} PRIVATE -Wl,--gc-sections)
    add_custom_command(TARGET ${name} POST_BUILD
      COMMAND ${CMAKE_OBJCOPY} --only-keep-debug $<TARGET_FILE_NAME:${name}> $<TARGET_FILE_NAME:${name}>.debug
      COMMAND ${CMAKE_OBJCOPY} --strip-all --add-gnu-debuglink=$<TARGET_FILE_NAME:${name}>.debug
              $<TARGET_FILE_NAME:${name}>
      WORKING_DIRECTORY $<TARGET_FILE_DIR:${name}>
      VERBATIM)
  endif()
endfunction()
