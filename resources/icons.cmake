# The program's icon and the picture list of the main window, drawn for this
# project as SVG and rendered at run time.
qt_add_resources(kelvo_ui "icons"
  PREFIX "/icons"
  BASE ${CMAKE_CURRENT_LIST_DIR}/icons
  FILES
    ${CMAKE_CURRENT_LIST_DIR}/icons/kelvo.svg
    ${CMAKE_CURRENT_LIST_DIR}/icons/00-card-class.svg
    ${CMAKE_CURRENT_LIST_DIR}/icons/01-card.svg
    ${CMAKE_CURRENT_LIST_DIR}/icons/02-open-home-page.svg
    ${CMAKE_CURRENT_LIST_DIR}/icons/03-delete.svg
    ${CMAKE_CURRENT_LIST_DIR}/icons/04-search.svg
    ${CMAKE_CURRENT_LIST_DIR}/icons/05-help.svg
    ${CMAKE_CURRENT_LIST_DIR}/icons/06-send-mail.svg
    ${CMAKE_CURRENT_LIST_DIR}/icons/07-edit.svg
    ${CMAKE_CURRENT_LIST_DIR}/icons/08-rename.svg
    ${CMAKE_CURRENT_LIST_DIR}/icons/09-save.svg
    ${CMAKE_CURRENT_LIST_DIR}/icons/10-contact-author.svg
    ${CMAKE_CURRENT_LIST_DIR}/icons/11-about.svg
    ${CMAKE_CURRENT_LIST_DIR}/icons/12-exit.svg
    ${CMAKE_CURRENT_LIST_DIR}/icons/13-software-home-page.svg
)
