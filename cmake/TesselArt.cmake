# The program's pictures: drawn as SVG in resources/art/ (the animation by a
# small generator) and rendered to PNG at their fixed sizes when a window is
# built. Each window turns the PNG files into what its toolkit takes.
#
# tessel_render_art(OUT_DIR RESULT): renders every picture into OUT_DIR and
# sets RESULT to the list of PNG files.
function(tessel_render_art out_dir result)
  find_program(TESSEL_RSVG_CONVERT rsvg-convert REQUIRED)
  find_package(Python3 REQUIRED COMPONENTS Interpreter)
  set(_art_src ${PROJECT_SOURCE_DIR}/resources/art)
  file(MAKE_DIRECTORY ${out_dir})
  add_custom_command(
    OUTPUT ${out_dir}/animation.svg
    COMMAND Python3::Interpreter ${_art_src}/animation.py ${out_dir}/animation.svg
    DEPENDS ${_art_src}/animation.py
    COMMENT "Drawing the animation clip")
  set(_pngs)
  foreach(_picture icon32 icon16 banner step1 step2 logo animation)
    if(_picture STREQUAL "animation")
      set(_svg ${out_dir}/animation.svg)
    else()
      set(_svg ${_art_src}/${_picture}.svg)
    endif()
    add_custom_command(
      OUTPUT ${out_dir}/${_picture}.png
      COMMAND ${TESSEL_RSVG_CONVERT} ${_svg} -o ${out_dir}/${_picture}.png
      DEPENDS ${_svg}
      COMMENT "Rendering ${_picture}.png")
    list(APPEND _pngs ${out_dir}/${_picture}.png)
  endforeach()
  set(${result} ${_pngs} PARENT_SCOPE)
endfunction()
