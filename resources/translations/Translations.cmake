# The client's own texts compiled from the .ts sources, and Qt's widget texts for the same locale, both written
# beside the executable where the client looks for them.
set(_ts_dir ${CMAKE_CURRENT_LIST_DIR})
set(_bin ${CMAKE_BINARY_DIR}/bin)
set(HALCYRA_TS_FILES ${_ts_dir}/HalcyraClient_zh_CN.ts)

set_source_files_properties(${HALCYRA_TS_FILES} PROPERTIES OUTPUT_LOCATION ${_bin})
qt5_add_translation(HALCYRA_QM_FILES ${HALCYRA_TS_FILES})

# Debian's qttranslations5-l10n ships Qt's own texts; the client loads them under the fixed name widgets.qm.
get_target_property(_qmake Qt5::qmake IMPORTED_LOCATION)
execute_process(COMMAND ${_qmake} -query QT_INSTALL_TRANSLATIONS
                OUTPUT_VARIABLE _qt_translations OUTPUT_STRIP_TRAILING_WHITESPACE)
find_file(HALCYRA_QTBASE_QM qtbase_zh_CN.qm PATHS ${_qt_translations} /usr/share/qt5/translations NO_DEFAULT_PATH)
if(NOT HALCYRA_QTBASE_QM)
    message(FATAL_ERROR "qtbase_zh_CN.qm not found: install qttranslations5-l10n (scripts/install-deps)")
endif()
add_custom_command(
    OUTPUT ${_bin}/widgets.qm
    COMMAND ${CMAKE_COMMAND} -E make_directory ${_bin}
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${HALCYRA_QTBASE_QM} ${_bin}/widgets.qm
    DEPENDS ${HALCYRA_QTBASE_QM}
    COMMENT "Copying Qt's widget translations as widgets.qm")

add_custom_target(halcyra_translations ALL DEPENDS ${HALCYRA_QM_FILES} ${_bin}/widgets.qm)
install(FILES ${HALCYRA_QM_FILES} ${_bin}/widgets.qm DESTINATION lib/halcyraclient)

# Refreshes the .ts sources from the code; new entries then need their translation.
get_target_property(_lrelease Qt5::lrelease IMPORTED_LOCATION)
get_filename_component(_qt_bin ${_lrelease} DIRECTORY)
find_program(HALCYRA_LUPDATE lupdate HINTS ${_qt_bin})
add_custom_target(translations_update
    COMMAND ${HALCYRA_LUPDATE} -locations none -no-obsolete ${CMAKE_SOURCE_DIR}/src -ts ${HALCYRA_TS_FILES}
    WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
    COMMENT "Updating the translation sources from src/")
