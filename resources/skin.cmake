# Kelvo's own skin, "Kelvo Light": its pictures and description under
# resources/skin are packed at build time into the stored skin property
# (32-bit length, then the compressed skin archive), which the main window
# loads from the resource ":/skin/kelvo.skin". Included by src/ui.
file(GLOB KELVO_SKIN_FILES CONFIGURE_DEPENDS
  ${PROJECT_SOURCE_DIR}/resources/skin/*.bmp
  ${PROJECT_SOURCE_DIR}/resources/skin/*.ini)
list(SORT KELVO_SKIN_FILES)
set(KELVO_SKIN_PACKED ${CMAKE_CURRENT_BINARY_DIR}/skin/kelvo.skin)
add_custom_command(
  OUTPUT ${KELVO_SKIN_PACKED}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/skin
  COMMAND kelvo-skin-pack ${KELVO_SKIN_PACKED} ${KELVO_SKIN_FILES}
  DEPENDS kelvo-skin-pack ${KELVO_SKIN_FILES}
  COMMENT "Packing Kelvo's skin"
  VERBATIM)
set_source_files_properties(${KELVO_SKIN_PACKED} PROPERTIES GENERATED TRUE)
qt_add_resources(kelvo_ui "skin"
  PREFIX "/skin"
  BASE ${CMAKE_CURRENT_BINARY_DIR}/skin
  FILES ${KELVO_SKIN_PACKED})
