# Fails when the executable imports a DLL outside the allow-list, or exceeds its size.
#   cmake -DOBJDUMP=... -DEXE=... -DMAX_BYTES=... -P CheckImports.cmake
# The loader resolves static imports before the program's first line runs, so the safe
# DLL search cannot protect them: only DLLs that Windows takes from System32 whatever the
# search path (its known DLLs; comctl32 through the manifest's binding) may be imported.
# Every other DLL is loaded at run time by full path.
cmake_minimum_required(VERSION 3.25)
set(allowed advapi32.dll comctl32.dll comdlg32.dll gdi32.dll kernel32.dll msvcrt.dll ole32.dll
    oleaut32.dll setupapi.dll shell32.dll shlwapi.dll user32.dll)
execute_process(COMMAND ${OBJDUMP} -p ${EXE} OUTPUT_VARIABLE dump RESULT_VARIABLE failed)
if(failed)
    message(FATAL_ERROR "objdump could not read ${EXE}")
endif()
string(REGEX MATCHALL "DLL Name: [^\r\n]+" lines "${dump}")
if(NOT lines)
    message(FATAL_ERROR "no imports found in ${EXE}")
endif()
foreach(line IN LISTS lines)
    string(REPLACE "DLL Name: " "" dll "${line}")
    string(STRIP "${dll}" dll)
    string(TOLOWER "${dll}" dll)
    if(NOT dll IN_LIST allowed)
        message(FATAL_ERROR "${EXE} imports ${dll}, which the loader may take from beside it")
    endif()
    message(STATUS "imports ${dll}")
endforeach()
file(SIZE ${EXE} size)
if(size GREATER MAX_BYTES)
    message(FATAL_ERROR "${EXE} is ${size} bytes, more than ${MAX_BYTES}")
endif()
