# The component as a library for other applications: one shared libnimbra
# holding the component, the signals library and the platform layer with its
# GTK backend. Consumers see only the headers below and link -lnimbra; the
# toolkit, the web engine, OpenSSL and libplist stay private to the library.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(nimbra_parts platform_core platform_gtk nimbra_signals nimbra)
set_target_properties(${nimbra_parts} PROPERTIES POSITION_INDEPENDENT_CODE ON)

add_library(nimbra_shared SHARED ${CMAKE_CURRENT_LIST_DIR}/empty.cpp)
foreach(part IN LISTS nimbra_parts)
  target_sources(nimbra_shared PRIVATE $<TARGET_OBJECTS:${part}>)
  add_dependencies(nimbra_shared ${part})
endforeach()
target_link_libraries(nimbra_shared PRIVATE
  PkgConfig::GTK PkgConfig::WEBKIT PkgConfig::SOUP PkgConfig::GIO PkgConfig::PLIST
  OpenSSL::Crypto Threads::Threads)
# Every symbol the parts need must come from a library named here.
target_link_options(nimbra_shared PRIVATE -Wl,--no-undefined)
set_target_properties(nimbra_shared PROPERTIES
  OUTPUT_NAME nimbra EXPORT_NAME nimbra
  VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})
target_include_directories(nimbra_shared INTERFACE $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}/nimbra>)
target_compile_features(nimbra_shared INTERFACE cxx_std_20)

# The public headers: what an application needs to put a banner in a window
# and hear about its ads (docs/library.md says why this set). Installed under
# include/nimbra with the spelling the sources use ("View/ZELBannerView.h",
# "platform/Window.h").
set(NIMBRA_PUBLIC_COMPONENT_HEADERS
  View/ZELBannerView.h
  Delegate/ZELBannerViewDelegate.h
  Delegate/ZELDelegateOperation.h
  Request/ZELRequest.h
  Request/ZELRequestError.h)
set(NIMBRA_PUBLIC_PLATFORM_HEADERS
  platform/ApplicationMain.h
  platform/ApplicationLifecycle.h
  platform/Application.h
  platform/Outlets.h
  platform/Window.h
  platform/View.h
  platform/ViewController.h
  platform/Geometry.h
  platform/Image.h
  platform/RunLoop.h
  platform/WeakPtr.h
  platform/MainThread.h
  platform/Date.h
  platform/Value.h
  platform/Http.h
  platform/URL.h)

function(nimbra_install_headers base)
  foreach(header IN LISTS ARGN)
    get_filename_component(dir ${header} DIRECTORY)
    install(FILES ${base}/${header} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/nimbra/${dir})
  endforeach()
endfunction()
nimbra_install_headers(${PROJECT_SOURCE_DIR}/ads ${NIMBRA_PUBLIC_COMPONENT_HEADERS})
nimbra_install_headers(${PROJECT_SOURCE_DIR}/platform/include ${NIMBRA_PUBLIC_PLATFORM_HEADERS})

install(TARGETS nimbra_shared EXPORT NimbraTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})

# find_package(Nimbra) gives Nimbra::nimbra.
set(nimbra_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/Nimbra)
install(EXPORT NimbraTargets NAMESPACE Nimbra:: DESTINATION ${nimbra_cmake_dir})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/NimbraConfig.cmake.in
  ${PROJECT_BINARY_DIR}/NimbraConfig.cmake INSTALL_DESTINATION ${nimbra_cmake_dir})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/NimbraConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/NimbraConfig.cmake ${PROJECT_BINARY_DIR}/NimbraConfigVersion.cmake
  DESTINATION ${nimbra_cmake_dir})

# nimbra.pc finds the prefix from its own place, so an installation moved with
# `cmake --install --prefix` or DESTDIR still describes itself.
set(nimbra_pc_dir ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
file(RELATIVE_PATH NIMBRA_PC_PREFIX /prefix/${nimbra_pc_dir} /prefix)
string(REGEX REPLACE "/$" "" NIMBRA_PC_PREFIX "${NIMBRA_PC_PREFIX}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/nimbra.pc.in ${PROJECT_BINARY_DIR}/nimbra.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/nimbra.pc DESTINATION ${nimbra_pc_dir})

install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR})
