# tabrix_library(NAME name [KIND Core|Gui|Widgets] SOURCES ... [KEEP symbol])
# One library of the suite: static unless BUILD_SHARED_LIBS, its headers installed under
# include/tabrix/<its folder>, and its target exported as Tabrix::<name without the
# "tabrix_" prefix>. KIND says which package component it belongs to (the headless core,
# the Qt Gui parts or the widgets). KEEP names a symbol of a file that registers itself
# when loaded (the UI services, the picture reader): the library's users are made to
# reference it so that the linker keeps that file out of a static library.
include(GNUInstallDirs)
set_property(GLOBAL PROPERTY TABRIX_LIBRARIES_Core "")
set_property(GLOBAL PROPERTY TABRIX_LIBRARIES_Gui "")
set_property(GLOBAL PROPERTY TABRIX_LIBRARIES_Widgets "")

function(tabrix_library)
  cmake_parse_arguments(L "" "NAME;KIND;KEEP" "SOURCES" ${ARGN})
  if(NOT L_KIND)
    set(L_KIND Core)
  endif()
  add_library(${L_NAME} ${L_SOURCES})
  string(REGEX REPLACE "^tabrix_" "" short ${L_NAME})
  set_target_properties(${L_NAME} PROPERTIES
    EXPORT_NAME ${short}
    OUTPUT_NAME ${L_NAME}
    VERSION ${PROJECT_VERSION}
    SOVERSION ${PROJECT_VERSION_MAJOR})
  target_include_directories(${L_NAME} PUBLIC
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}>
    $<BUILD_INTERFACE:${PROJECT_BINARY_DIR}/include>
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}/tabrix>)
  if(L_KEEP)
    target_link_options(${L_NAME} INTERFACE "LINKER:--undefined=${L_KEEP}")
    if(BUILD_SHARED_LIBS)
      # A shared library registers itself when it is loaded, but linking "as needed"
      # (the compiler's default here) records it only when a program calls into it, and
      # --undefined does not count as a call: its users record every library they name.
      target_link_options(${L_NAME} INTERFACE "LINKER:--no-as-needed")
    endif()
  endif()
  if(BUILD_SHARED_LIBS)
    # Every header is installed and used by hosts, programs and tests, so a shared
    # library exports its classes and functions (README, "Using the library"). Inline
    # functions are compiled into every user and stay out of the dynamic symbol table;
    # static archives a library may take in are never offered again; and a library
    # names every library it uses (--no-undefined).
    target_compile_options(${L_NAME} PRIVATE -fvisibility-inlines-hidden)
    target_link_options(${L_NAME} PRIVATE "LINKER:--exclude-libs,ALL" "LINKER:--no-undefined")
    set_target_properties(${L_NAME} PROPERTIES INSTALL_RPATH "$ORIGIN")
  endif()
  set_property(GLOBAL APPEND PROPERTY TABRIX_LIBRARIES_${L_KIND} ${L_NAME})
  foreach(src ${L_SOURCES})
    if(src MATCHES "\\.h$")
      file(RELATIVE_PATH rel ${PROJECT_SOURCE_DIR} ${src})
      get_filename_component(dir ${rel} DIRECTORY)
      install(FILES ${src} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/tabrix/${dir} COMPONENT dev)
    endif()
  endforeach()
  install(TARGETS ${L_NAME} EXPORT TabrixTargets
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT libs NAMELINK_COMPONENT dev
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
endfunction()

# tabrix_take_sources(OUT LIST name ...): moves the files named (relative to the calling
# folder) out of the list LIST (absolute paths) into OUT. A file that another branch adds
# stays in LIST, the folder's core library, unless it is named here.
function(tabrix_take_sources out list)
  set(rest ${${list}})
  set(taken)
  foreach(f ${ARGN})
    set(path ${CMAKE_CURRENT_SOURCE_DIR}/${f})
    if(EXISTS ${path})
      list(REMOVE_ITEM rest ${path})
      list(APPEND taken ${path})
    endif()
  endforeach()
  set(${list} ${rest} PARENT_SCOPE)
  set(${out} ${taken} PARENT_SCOPE)
endfunction()
