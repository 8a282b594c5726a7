# djkivo_render_icon(OUT_VAR SVG SIZES...): renders SVG into
# ${CMAKE_CURRENT_BINARY_DIR}/icons/SIZE/djkivo.png for each size, at build time, and puts the
# list of those files in OUT_VAR. The program's window and tray icon and the installed icons are
# the same picture this way.
find_program(DJKIVO_RSVG_CONVERT rsvg-convert)
function(djkivo_render_icon out_var svg)
  if(NOT DJKIVO_RSVG_CONVERT)
    message(FATAL_ERROR "rsvg-convert (Debian librsvg2-bin) is needed to make the program's icons")
  endif()
  set(files)
  foreach(size IN LISTS ARGN)
    set(png ${CMAKE_CURRENT_BINARY_DIR}/icons/${size}/djkivo.png)
    add_custom_command(OUTPUT ${png}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/icons/${size}
      COMMAND ${DJKIVO_RSVG_CONVERT} --width ${size} --height ${size} --output ${png} ${svg}
      DEPENDS ${svg} VERBATIM)
    list(APPEND files ${png})
  endforeach()
  set(${out_var} ${files} PARENT_SCOPE)
endfunction()
