# The card detail panel's decorative picture (:/panel/plant.jpg), decoded at
# run time with libjpeg. DrawPlant.cpp beside it is how it was made.
qt_add_resources(kelvo_ui "panel"
  PREFIX "/panel"
  BASE "${CMAKE_CURRENT_LIST_DIR}/panel"
  FILES "${CMAKE_CURRENT_LIST_DIR}/panel/plant.jpg")
