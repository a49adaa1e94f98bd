# The photo plug-ins: for each name its sources and libraries, as VELORIN_PHOTO_PLUGIN_<name>_SOURCES
# and _LIBRARIES. Included by the plug-in build and by the fuzz build, which links the same
# sources into its targets.
set(VELORIN_PHOTO_PLUGINS heif webp jxl raw)
set(_photo ${CMAKE_CURRENT_LIST_DIR})

if(NOT TARGET velorin_photo_common)
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(LIBHEIF REQUIRED IMPORTED_TARGET GLOBAL libheif)
  pkg_check_modules(LIBWEBP REQUIRED IMPORTED_TARGET GLOBAL libwebp libwebpdemux)
  pkg_check_modules(LIBJXL REQUIRED IMPORTED_TARGET GLOBAL libjxl libjxl_threads)
  pkg_check_modules(LIBRAW REQUIRED IMPORTED_TARGET GLOBAL libraw_r)
  pkg_check_modules(LCMS2 REQUIRED IMPORTED_TARGET GLOBAL lcms2)
  # Source reading, orientation, colour conversion and the hand-over, shared by all four.
  add_library(velorin_photo_common STATIC ${_photo}/common/picture.cpp)
  target_include_directories(velorin_photo_common PUBLIC ${_photo}/sdk ${_photo})
  target_link_libraries(velorin_photo_common PUBLIC PkgConfig::LCMS2)
  set_target_properties(velorin_photo_common PROPERTIES POSITION_INDEPENDENT_CODE ON CXX_VISIBILITY_PRESET hidden)
endif()

foreach(name ${VELORIN_PHOTO_PLUGINS})
  set(VELORIN_PHOTO_PLUGIN_${name}_SOURCES ${_photo}/${name}/${name}.cpp)
endforeach()
set(VELORIN_PHOTO_PLUGIN_heif_LIBRARIES velorin_photo_common PkgConfig::LIBHEIF)
set(VELORIN_PHOTO_PLUGIN_webp_LIBRARIES velorin_photo_common PkgConfig::LIBWEBP)
set(VELORIN_PHOTO_PLUGIN_jxl_LIBRARIES velorin_photo_common PkgConfig::LIBJXL)
set(VELORIN_PHOTO_PLUGIN_raw_LIBRARIES velorin_photo_common PkgConfig::LIBRAW)
