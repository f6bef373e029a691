# The About dialog (TFormAPropos), its link opener and the font mapping the forms share.
# Included from ui/CMakeLists.txt.
find_package(Qt6 REQUIRED COMPONENTS Core Gui Widgets)

add_library(korvane_apropos STATIC
    ${CMAKE_CURRENT_LIST_DIR}/Boiteapropos.cpp
    ${CMAKE_CURRENT_LIST_DIR}/Boiteapropos.h
    ${CMAKE_CURRENT_LIST_DIR}/Boiteapropos.ui
    ${CMAKE_CURRENT_LIST_DIR}/OuvreurLiens.cpp
    ${CMAKE_CURRENT_LIST_DIR}/OuvreurLiens.h
    ${CMAKE_CURRENT_LIST_DIR}/Polices.cpp
    ${CMAKE_CURRENT_LIST_DIR}/Polices.h)
set_target_properties(korvane_apropos PROPERTIES AUTOMOC ON AUTOUIC ON)
target_include_directories(korvane_apropos PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(korvane_apropos PUBLIC korvane_text korvane_pictures Qt6::Widgets)
