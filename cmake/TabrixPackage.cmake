# What `cmake --install` puts in place besides the libraries and headers (see
# cmake/TabrixLibrary.cmake): the CMake package (find_package(Tabrix CONFIG COMPONENTS
# Core Gui Widgets) gives Tabrix::Core, Tabrix::Gui, Tabrix::Widgets), the pkg-config
# files, and the Debian packages CPack makes from the two install components: "runtime"
# (the programs, their manual pages, the desktop entry, the Gui module) becomes `tabrix`,
# "dev" (headers, libraries, the CMake package, pkg-config) becomes `libtabrix-dev`.
# Shared libraries make a third: "libs" (the libtabrix_*.so.4 objects) becomes `libtabrix4`,
# which both others depend on; `libtabrix-dev` then holds the unversioned links.
include(CMakePackageConfigHelpers)

# One target a component, exported as Tabrix::<component>.
foreach(component Core Gui Widgets)
  string(TOLOWER ${component} lower)
  add_library(tabrix_component_${lower} INTERFACE)
  set_target_properties(tabrix_component_${lower} PROPERTIES EXPORT_NAME ${component})
  get_property(libs GLOBAL PROPERTY TABRIX_LIBRARIES_${component})
  target_link_libraries(tabrix_component_${lower} INTERFACE ${libs})
  install(TARGETS tabrix_component_${lower} EXPORT TabrixTargets)
endforeach()
target_link_libraries(tabrix_component_gui INTERFACE tabrix_component_core)
target_link_libraries(tabrix_component_widgets INTERFACE tabrix_component_gui)

set(TABRIX_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Tabrix)
install(EXPORT TabrixTargets NAMESPACE Tabrix:: DESTINATION ${TABRIX_CMAKE_DIR} COMPONENT dev)
configure_package_config_file(cmake/TabrixConfig.cmake.in ${PROJECT_BINARY_DIR}/TabrixConfig.cmake
  INSTALL_DESTINATION ${TABRIX_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/TabrixConfigVersion.cmake COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/TabrixConfig.cmake ${PROJECT_BINARY_DIR}/TabrixConfigVersion.cmake
  DESTINATION ${TABRIX_CMAKE_DIR} COMPONENT dev)

# pkg-config: tabrix (the core) and tabrix-widgets. Static libraries are listed with
# their users first.
set(TABRIX_PC_CORE)
foreach(lib tabrix_office tabrix_cellfile tabrix_spec tabrix_export tabrix_engine tabrix_automation tabrix_shell
            tabrix_framework)
  string(APPEND TABRIX_PC_CORE " -l${lib}")
endforeach()
# The widgets libraries register themselves when loaded (cmake/TabrixLibrary.cmake).
set(TABRIX_PC_LOAD_ALL "")
if(BUILD_SHARED_LIBS)
  set(TABRIX_PC_LOAD_ALL "-Wl,--no-as-needed ")
endif()
configure_file(cmake/tabrix.pc.in ${PROJECT_BINARY_DIR}/tabrix.pc @ONLY)
configure_file(cmake/tabrix-widgets.pc.in ${PROJECT_BINARY_DIR}/tabrix-widgets.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/tabrix.pc ${PROJECT_BINARY_DIR}/tabrix-widgets.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)

# Debian packages.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tabrix)
set(CPACK_PACKAGE_VENDOR "Tabrix")
set(CPACK_PACKAGE_CONTACT "Tabrix developers <tabrix@example.org>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "data export suite")
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(TABRIX_PACKAGE_COMPONENTS runtime dev)
if(BUILD_SHARED_LIBS)
  list(APPEND TABRIX_PACKAGE_COMPONENTS libs)
endif()
set(CPACK_COMPONENTS_ALL ${TABRIX_PACKAGE_COMPONENTS})
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://example.org/tabrix")
set(CPACK_DEBIAN_PACKAGE_SOURCE tabrix)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME tabrix)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION "data export suite: programs
 Tabrix exports tables and queries of SQLite and PostgreSQL databases into
 documents, workbooks, text files and database tables. This package holds
 the command-line program tabrix-export and the picture export programs.")
set(CPACK_DEBIAN_DEV_PACKAGE_NAME libtabrix-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS
  "qt6-base-dev, libzip-dev, libpugixml-dev, libsqlite3-dev, zlib1g-dev, libisal-dev, libgsf-1-dev, libshp-dev, pxlib-dev, libreadstat-dev, pkg-config")
set(CPACK_DEBIAN_DEV_DESCRIPTION "data export suite: development files
 Tabrix is a C++20 / Qt 6 library of export components: data engines over
 datasets and grids, exporters to word-processor documents, workbooks, text
 files and database tables, and export specification files. This package
 holds the headers, the libraries, the CMake package and pkg-config files.")
if(BUILD_SHARED_LIBS)
  set(tabrix_libs_package libtabrix${PROJECT_VERSION_MAJOR})
  set(CPACK_DEBIAN_LIBS_PACKAGE_NAME ${tabrix_libs_package})
  set(CPACK_DEBIAN_LIBS_PACKAGE_SECTION libs)
  set(CPACK_DEBIAN_LIBS_PACKAGE_SHLIBDEPS ON)
  # (CPack reads this one for every package; only libtabrix4 has libraries with a SONAME.)
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
  # The dynamic linker's cache is refreshed through the trigger Debian provides for it.
  set(CPACK_DEBIAN_LIBS_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/triggers)
  set(CPACK_DEBIAN_LIBS_DESCRIPTION "data export suite: shared libraries
 Tabrix is a C++20 / Qt 6 library of export components: data engines over
 datasets and grids, exporters to word-processor documents, workbooks, text
 files and database tables, and export specification files. This package
 holds the shared libraries the programs and hosts load at run time.")
  set(libs_dependency "${tabrix_libs_package} (= ${PROJECT_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE})")
  set(CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS ${libs_dependency})
  string(PREPEND CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "${libs_dependency}, ")
  # The programs' dependencies are looked up in the folders the libraries are built in;
  # the libraries themselves belong to no installed package yet.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS)
  foreach(kind Core Gui Widgets)
    get_property(libs GLOBAL PROPERTY TABRIX_LIBRARIES_${kind})
    foreach(lib ${libs})
      get_target_property(dir ${lib} BINARY_DIR)
      list(APPEND CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${dir})
    endforeach()
  endforeach()
endif()
# Debian wants a copyright file and a compressed changelog in every package.
foreach(component ${TABRIX_PACKAGE_COMPONENTS})
  if(component STREQUAL "runtime")
    set(pkg tabrix)
  elseif(component STREQUAL "libs")
    set(pkg ${tabrix_libs_package})
  else()
    set(pkg libtabrix-dev)
  endif()
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${pkg}
          COMPONENT ${component})
  install(FILES ${PROJECT_BINARY_DIR}/packaging/changelog.Debian.gz DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${pkg}
          COMPONENT ${component})
endforeach()
configure_file(${PROJECT_SOURCE_DIR}/packaging/changelog.in ${PROJECT_BINARY_DIR}/packaging/changelog @ONLY)
# gzip -9n, as Debian wants it: best compression, no name or time stamp.
execute_process(COMMAND gzip -9nf ${PROJECT_BINARY_DIR}/packaging/changelog
                COMMAND_ERROR_IS_FATAL ANY)
file(RENAME ${PROJECT_BINARY_DIR}/packaging/changelog.gz ${PROJECT_BINARY_DIR}/packaging/changelog.Debian.gz)
include(CPack)
