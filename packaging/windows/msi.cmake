# The MSI: stripped programs, libical's zone data, WP.ini and a sample calendar for the
# build's year and the next, staged under msi/ and packed by wixl. The pictures are made
# by the native month picture maker (ZORVANI_MONTH_PICTURE): the linux preset builds it.
# 1920x1080, the most common screen, is shown without stretching on most machines.
set(ZORVANI_MONTH_PICTURE "${CMAKE_SOURCE_DIR}/build/linux/tools/zorvani-month-picture"
    CACHE FILEPATH "Native zorvani-month-picture that makes the MSI's sample calendar")

# Stable across versions: a newer MSI with the same UpgradeCode replaces an older one.
set(ZORVANI_UPGRADE_CODE "{6F3A2C1E-8B4D-4E57-9A1C-2D7E5B9F0C43}")
function(zorvani_guid name out)
  string(UUID guid NAMESPACE 6F3A2C1E-8B4D-4E57-9A1C-2D7E5B9F0C43 NAME "${name}" TYPE SHA1 UPPER)
  set(${out} "{${guid}}" PARENT_SCOPE)
endfunction()
zorvani_guid(program ZORVANI_GUID_PROGRAM)
zorvani_guid(settings ZORVANI_GUID_SETTINGS)
zorvani_guid(calendars ZORVANI_GUID_CALENDARS)

set(stage "${CMAKE_CURRENT_BINARY_DIR}/msi")
set(staged "")
set(ZORVANI_WXS_EXTRA "")
set(ZORVANI_WXS_REFS "")
foreach(program IN LISTS ZORVANI_SHIPPED)
  list(APPEND staged "${stage}/${program}.exe")
  add_custom_command(OUTPUT "${stage}/${program}.exe"
    COMMAND ${CMAKE_COMMAND} -E make_directory "${stage}"
    COMMAND ${CMAKE_STRIP} -o "${stage}/${program}.exe" "$<TARGET_FILE:${program}>"
    DEPENDS ${program} VERBATIM)
  if(NOT program STREQUAL "zorvani-wallpaper")
    zorvani_guid(${program} guid)
    string(MAKE_C_IDENTIFIER "${program}" id)
    string(APPEND ZORVANI_WXS_EXTRA
      "          <Component Id=\"${id}\" Guid=\"${guid}\" Win64=\"yes\">\n"
      "            <File Id=\"${id}_exe\" Name=\"${program}.exe\" Source=\"${program}.exe\" KeyPath=\"yes\"/>\n"
      "          </Component>\n")
    string(APPEND ZORVANI_WXS_REFS "      <ComponentRef Id=\"${id}\"/>\n")
  endif()
endforeach()

string(TIMESTAMP build_year "%Y")
math(EXPR next_year "${build_year} + 1")
foreach(year ${build_year} ${next_year})
  # WP.ini comes with the pictures: its grid is theirs.
  set(pictures "")
  if(year EQUAL build_year)
    set(pictures "${stage}/WP.ini")
  endif()
  foreach(month RANGE 1 12)
    list(APPEND pictures "${stage}/Zorvani${year}/${month}.jpg")
  endforeach()
  add_custom_command(OUTPUT ${pictures}
    COMMAND "${ZORVANI_MONTH_PICTURE}" --calendar "${stage}" --year ${year} --size 1920x1080
    VERBATIM)
  list(APPEND staged ${pictures})
  zorvani_guid(pictures${year} guid)
  string(APPEND ZORVANI_WXS_EXTRA
    "          <Directory Id=\"Year${year}\" Name=\"Zorvani${year}\">\n"
    "            <Component Id=\"Pictures${year}\" Guid=\"${guid}\" Win64=\"yes\">\n")
  foreach(month RANGE 1 12)
    set(keypath "")
    if(month EQUAL 1)
      set(keypath " KeyPath=\"yes\"")
    endif()
    string(APPEND ZORVANI_WXS_EXTRA
      "              <File Id=\"Picture${year}_${month}\" Name=\"${month}.jpg\" Source=\"Zorvani${year}/${month}.jpg\"${keypath}/>\n")
  endforeach()
  string(APPEND ZORVANI_WXS_EXTRA "            </Component>\n          </Directory>\n")
  string(APPEND ZORVANI_WXS_REFS "      <ComponentRef Id=\"Pictures${year}\"/>\n")
endforeach()

# libical's zone data, which the programs read from a zoneinfo folder beside them: one
# component a folder, the files as the build has them.
set(zones "${ZORVANI_LIBICAL_MINGW}/share/libical/zoneinfo")
add_custom_command(OUTPUT "${stage}/zoneinfo.stamp"
  COMMAND ${CMAKE_COMMAND} -E copy_directory "${zones}" "${stage}/zoneinfo"
  COMMAND ${CMAKE_COMMAND} -E touch "${stage}/zoneinfo.stamp" VERBATIM)
list(APPEND staged "${stage}/zoneinfo.stamp")
function(zorvani_zone_folder relative indent)
  string(REGEX REPLACE "/$" "" folder "zoneinfo/${relative}")
  string(MAKE_C_IDENTIFIER "${folder}" id)
  get_filename_component(name "${folder}" NAME)
  set(xml "${indent}<Directory Id=\"${id}\" Name=\"${name}\">\n")
  file(GLOB entries LIST_DIRECTORIES true RELATIVE "${zones}/${relative}" "${zones}/${relative}/*")
  list(SORT entries)
  set(files "")
  foreach(entry IN LISTS entries)
    if(IS_DIRECTORY "${zones}/${relative}/${entry}")
      zorvani_zone_folder("${relative}${entry}/" "${indent}  ")
      string(APPEND xml "${ZORVANI_ZONE_XML}")
    else()
      list(APPEND files "${entry}")
    endif()
  endforeach()
  if(files)
    zorvani_guid("zoneinfo/${relative}" guid)
    string(APPEND xml "${indent}  <Component Id=\"${id}\" Guid=\"${guid}\" Win64=\"yes\">\n")
    set(keypath " KeyPath=\"yes\"")
    foreach(file IN LISTS files)
      # A File's Id: letters, digits, _ and . only, and unique; a zone's name is not always.
      string(SHA1 hash "${relative}${file}")
      string(SUBSTRING "${hash}" 0 20 hash)
      string(APPEND xml "${indent}    <File Id=\"Zone_${hash}\" Name=\"${file}\" Source=\"zoneinfo/${relative}${file}\"${keypath}/>\n")
      set(keypath "")
    endforeach()
    string(APPEND xml "${indent}  </Component>\n")
    set_property(GLOBAL APPEND PROPERTY ZORVANI_ZONE_COMPONENTS "${id}")
  endif()
  string(APPEND xml "${indent}</Directory>\n")
  set(ZORVANI_ZONE_XML "${xml}" PARENT_SCOPE)
endfunction()
zorvani_zone_folder("" "          ")
string(APPEND ZORVANI_WXS_EXTRA "${ZORVANI_ZONE_XML}")
get_property(zone_components GLOBAL PROPERTY ZORVANI_ZONE_COMPONENTS)
foreach(id IN LISTS zone_components)
  string(APPEND ZORVANI_WXS_REFS "      <ComponentRef Id=\"${id}\"/>\n")
endforeach()

configure_file(windows/zorvani-wallpaper.wxs.in "${CMAKE_CURRENT_BINARY_DIR}/zorvani-wallpaper.wxs" @ONLY)
set(msi "${CMAKE_BINARY_DIR}/ZorvaniWallpaper-${PROJECT_VERSION}-x64.msi")
add_custom_command(OUTPUT "${msi}"
  COMMAND "${CMAKE_CURRENT_SOURCE_DIR}/windows/make-msi" ${PROJECT_VERSION} "${msi}"
          "${CMAKE_CURRENT_BINARY_DIR}/zorvani-wallpaper.wxs" "${stage}"
  DEPENDS ${staged} "${CMAKE_CURRENT_BINARY_DIR}/zorvani-wallpaper.wxs" windows/make-msi VERBATIM)
add_custom_target(zorvani-msi DEPENDS "${msi}")
