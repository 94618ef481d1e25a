# Delay-import libraries. Linked through one, a DLL is loaded at the first call of one of
# its functions instead of when the process starts. GNU ld has no /DELAYLOAD; dlltool
# builds the same thunks, which mingw-w64's runtime resolves (__delayLoadHelper2), from a
# .def of the DLL's exports read off the toolchain's own import library.
find_program(VISTORA_DLLTOOL i686-w64-mingw32-dlltool REQUIRED)
find_program(VISTORA_NM i686-w64-mingw32-nm REQUIRED)

# Links target (and what links it) to dll through a delay-import library built from
# lib<name>.a, with every export's stub kept (scripts/delay_import_def.py says why).
function(vistora_link_delay_import target name dll)
    find_library(VISTORA_IMPORT_LIBRARY_${name} NAMES lib${name}.a REQUIRED)
    set(import ${VISTORA_IMPORT_LIBRARY_${name}})
    set(stem ${PROJECT_BINARY_DIR}/generated/${name}-delay)
    set(lib ${PROJECT_BINARY_DIR}/generated/lib${name}-delay.a)
    add_custom_command(
        OUTPUT ${lib} ${stem}.rsp
        COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/scripts/delay_import_def.py
                ${VISTORA_NM} ${import} ${dll} ${stem}.def ${stem}.rsp
        COMMAND ${VISTORA_DLLTOOL} -k --input-def ${stem}.def --dllname ${dll}
                --output-delaylib ${lib}
        DEPENDS ${import} ${PROJECT_SOURCE_DIR}/scripts/delay_import_def.py
        COMMENT "Building the delay-import library of ${dll}")
    add_custom_target(vistora_delay_${name} DEPENDS ${lib} ${stem}.rsp)
    add_dependencies(${target} vistora_delay_${name})
    target_link_libraries(${target} PUBLIC ${lib})
    target_link_options(${target} PUBLIC "LINKER:@${stem}.rsp")
endfunction()
