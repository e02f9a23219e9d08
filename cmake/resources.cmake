# Embedded resources, by name: RCDATA resources on Windows, byte arrays generated at
# build time on Linux. Names are looked up without regard to case.
set(LU_RESOURCES
  KVI_XMLFILE ${CMAKE_SOURCE_DIR}/resources/lang/installer.xml
  LU_XMLFILE  ${CMAKE_SOURCE_DIR}/resources/lang/liveupdate.xml
  BRAND_DREVANTO      ${CMAKE_SOURCE_DIR}/resources/brand/drevanto.bmp
  BRAND_LUMEVA        ${CMAKE_SOURCE_DIR}/resources/brand/lumeva.bmp
  BRAND_DREVANTO_LEFT ${CMAKE_SOURCE_DIR}/resources/brand/drevanto_left.bmp
  BRAND_LUMEVA_LEFT   ${CMAKE_SOURCE_DIR}/resources/brand/lumeva_left.bmp
)
# Extra resources registered by the shell (pictures, manifest) append to this list.
set_property(GLOBAL PROPERTY LU_EXTRA_RC_LINES "")

set(_lu_res_files)
set(_lu_res_pairs)
list(LENGTH LU_RESOURCES _n)
math(EXPR _last "${_n} - 1")
foreach(i RANGE 0 ${_last} 2)
  math(EXPR j "${i} + 1")
  list(GET LU_RESOURCES ${i} _name)
  list(GET LU_RESOURCES ${j} _file)
  list(APPEND _lu_res_files ${_file})
  list(APPEND _lu_res_pairs "${_name}=${_file}")
endforeach()

if(WIN32)
  set(_rc ${CMAKE_BINARY_DIR}/generated/lu_resources.rc)
  set(_text "")
  foreach(p IN LISTS _lu_res_pairs)
    string(REPLACE "=" ";" p "${p}")
    list(GET p 0 _name)
    list(GET p 1 _file)
    string(APPEND _text "${_name} RCDATA \"${_file}\"\n")
  endforeach()
  file(WRITE ${_rc}.in "${_text}")
  configure_file(${_rc}.in ${_rc} COPYONLY)
  set_source_files_properties(${_rc} PROPERTIES OBJECT_DEPENDS "${_lu_res_files}")
  add_library(lu_resources OBJECT ${_rc})
else()
  set(_cpp ${CMAKE_BINARY_DIR}/generated/lu_resources.cpp)
  add_custom_command(
    OUTPUT ${_cpp}
    COMMAND ${CMAKE_COMMAND} -DOUT=${_cpp} "-DPAIRS=${_lu_res_pairs}" -P ${CMAKE_SOURCE_DIR}/cmake/embed.cmake
    DEPENDS ${_lu_res_files} ${CMAKE_SOURCE_DIR}/cmake/embed.cmake
    COMMENT "Embedding resources"
    VERBATIM)
  add_library(lu_resources OBJECT ${_cpp})
endif()

function(lu_embed_resources target)
  target_sources(${target} PRIVATE $<TARGET_OBJECTS:lu_resources>)
endfunction()
