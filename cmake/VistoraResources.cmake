# Resource scripts are kept in UTF-8 and converted to code page 932 for windres, which
# reads them with -c 932. The project's version header and the shared VERSIONINFO block
# (src/resources/version_info.rc) are on the include path of every script, and so are the
# application manifests made from their templates.
configure_file(${PROJECT_SOURCE_DIR}/src/resources/version.h.in
               ${PROJECT_BINARY_DIR}/generated/version.h @ONLY)
# The application manifests carry the same version; the scripts name them as files found
# on the same include path.
configure_file(${PROJECT_SOURCE_DIR}/src/resources/uploader.manifest.in
               ${PROJECT_BINARY_DIR}/generated/uploader.manifest @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/tools/tool.manifest.in
               ${PROJECT_BINARY_DIR}/generated/tool.manifest @ONLY)
set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} -c 932 -I${PROJECT_SOURCE_DIR}/src/resources -I${PROJECT_BINARY_DIR}/generated")

# Sets out_var to the code-page-932 copy of the UTF-8 script rc_utf8; depends lists the
# files the script includes.
function(vistora_cp932_resources out_var rc_utf8 depends)
    get_filename_component(name ${rc_utf8} NAME_WE)
    set(rc_cp932 ${CMAKE_CURRENT_BINARY_DIR}/${name}-cp932.rc)
    add_custom_command(
        OUTPUT ${rc_cp932}
        COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/scripts/rc_to_cp932.py ${rc_utf8} ${rc_cp932}
        DEPENDS ${rc_utf8} ${PROJECT_SOURCE_DIR}/scripts/rc_to_cp932.py
        COMMENT "Converting ${name}.rc to code page 932")
    set_source_files_properties(${rc_cp932} PROPERTIES OBJECT_DEPENDS
        "${depends};${PROJECT_SOURCE_DIR}/src/resources/version_info.rc;${PROJECT_BINARY_DIR}/generated/version.h")
    set(${out_var} ${rc_cp932} PARENT_SCOPE)
endfunction()
