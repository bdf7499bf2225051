# The LibreOffice backend for legacy .xls workbooks, relative to the folder
# above. The API headers are generated from LibreOffice's type libraries into
# the build folder; the UNO runtime libraries come from the SDK.
set(LIBREOFFICE_PROGRAM_DIR /usr/lib/libreoffice/program)
set(LIBREOFFICE_SDK_DIR /usr/lib/libreoffice/sdk)
set(LIBREOFFICE_SOURCES
  libreoffice/libreoffice.h
  libreoffice/cfb.cpp libreoffice/cfb_p.h
  libreoffice/detect.cpp
  libreoffice/biffsheets.cpp libreoffice/biffsheets_p.h
  libreoffice/search.cpp libreoffice/search_p.h
  libreoffice/objects.cpp libreoffice/objects_p.h
  libreoffice/book.cpp libreoffice/book_p.h
  libreoffice/cellinput.cpp libreoffice/cellinput_p.h
  libreoffice/instance.cpp libreoffice/pool.cpp libreoffice/pool_p.h libreoffice/uno_p.h
)
set(LIBREOFFICE_UNO_HEADERS ${CMAKE_CURRENT_BINARY_DIR}/uno-headers)
add_custom_command(
  OUTPUT ${LIBREOFFICE_UNO_HEADERS}/stamp
  COMMAND ${LIBREOFFICE_SDK_DIR}/bin/cppumaker -Gc -O${LIBREOFFICE_UNO_HEADERS}
          ${LIBREOFFICE_PROGRAM_DIR}/types.rdb ${LIBREOFFICE_PROGRAM_DIR}/types/offapi.rdb
  COMMAND ${CMAKE_COMMAND} -E touch ${LIBREOFFICE_UNO_HEADERS}/stamp
  DEPENDS ${LIBREOFFICE_PROGRAM_DIR}/types.rdb ${LIBREOFFICE_PROGRAM_DIR}/types/offapi.rdb
  COMMENT "Generating the LibreOffice API headers"
  VERBATIM)
add_custom_target(trelvix_uno_headers DEPENDS ${LIBREOFFICE_UNO_HEADERS}/stamp)

# The objects of a remote LibreOffice are proxies whose virtual tables the
# UNO bridge makes at run time: UndefinedBehaviorSanitizer's type check of
# virtual calls cannot know them.
foreach(f book.cpp cellinput.cpp instance.cpp pool.cpp objects.cpp)
  set_source_files_properties(libreoffice/${f} PROPERTIES COMPILE_OPTIONS -fno-sanitize=vptr)
endforeach()

# Applied to the automation library by its CMakeLists.
macro(trelvix_use_libreoffice target)
  add_dependencies(${target} trelvix_uno_headers)
  target_include_directories(${target} SYSTEM PRIVATE
    ${LIBREOFFICE_UNO_HEADERS} /usr/include/libreoffice)
  target_compile_definitions(${target} PRIVATE LINUX UNX CPPU_ENV=gcc3)
  target_link_libraries(${target} PUBLIC
    ${LIBREOFFICE_SDK_DIR}/lib/libuno_cppu.so
    ${LIBREOFFICE_SDK_DIR}/lib/libuno_cppuhelpergcc3.so
    ${LIBREOFFICE_SDK_DIR}/lib/libuno_sal.so
    ${LIBREOFFICE_SDK_DIR}/lib/libuno_salhelpergcc3.so)
  target_link_options(${target} INTERFACE "LINKER:-rpath,${LIBREOFFICE_PROGRAM_DIR}")
endmacro()
