# Checks Driveward.msi where Wine cannot: what it ships, its version, the service's access
# list, the logon task's program, the properties that reach the elevated part and the
# custom action's subsystem. No Wine needed.
#   cmake -DMSI=... -DEXE=... -DSERVICE_EXE=... -DVERSION=... -DFILE_VERSION=... -DSDDL=... -DWORK=...
#         -DOBJDUMP=... -P CheckMsi.cmake
cmake_minimum_required(VERSION 3.25)

function(table name out)
    execute_process(COMMAND msiinfo export ${MSI} ${name} OUTPUT_VARIABLE text RESULT_VARIABLE failed)
    if(failed)
        message(FATAL_ERROR "msiinfo cannot read the ${name} table of ${MSI}")
    endif()
    set(${out} "${text}" PARENT_SCOPE)
endfunction()

function(expect text pattern what)
    if(NOT text MATCHES "${pattern}")
        message(FATAL_ERROR "${what}: no match for ${pattern} in\n${text}")
    endif()
endfunction()

# Exactly the shipped programs, byte for byte (never the simulated-devices variant).
file(REMOVE_RECURSE ${WORK})
execute_process(COMMAND msiextract -C ${WORK} ${MSI} OUTPUT_VARIABLE listed RESULT_VARIABLE failed)
if(failed)
    message(FATAL_ERROR "msiextract failed on ${MSI}")
endif()
file(GLOB_RECURSE shipped RELATIVE ${WORK} ${WORK}/*)
list(TRANSFORM shipped REPLACE ".*/" "")
list(SORT shipped)
if(NOT shipped STREQUAL "Driveward.exe;DrivewardService.exe")
    message(FATAL_ERROR "the MSI ships ${shipped}")
endif()
file(GLOB_RECURSE extracted ${WORK}/Driveward.exe)
file(GLOB_RECURSE extracted_service ${WORK}/DrivewardService.exe)
foreach(pair "${extracted}|${EXE}" "${extracted_service}|${SERVICE_EXE}")
    string(REPLACE "|" ";" pair "${pair}")
    list(GET pair 0 inside)
    list(GET pair 1 built)
    execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${inside} ${built} RESULT_VARIABLE differs)
    if(differs)
        message(FATAL_ERROR "${inside} is not ${built}")
    endif()
endforeach()
file(REMOVE_RECURSE ${WORK})

# The product version in the three fields Windows Installer compares; the programs keep
# their four-field version.
table(Property properties)
expect("${properties}" "\nProductVersion\t${VERSION}\r?\n" "product version")
table(File files)
expect("${files}" "\nClientExe\tClient\tDriveward.exe\t[0-9]+\t${FILE_VERSION}\t" "file version")
# A user who is not an administrator passes no property but the upgrade's own into an
# elevated installation: never DEBUG or LOGPATH, which the custom action writes as SYSTEM.
expect("${properties}" "\nSecureCustomProperties\tWIX_DOWNGRADE_DETECTED;WIX_UPGRADE_DETECTED\r?\n"
    "secure custom properties")

# The custom action, as the MSI holds it, is a GUI program: no console window as SYSTEM.
execute_process(COMMAND msiinfo extract ${MSI} Binary.InstallAction
    OUTPUT_FILE ${WORK}-action.exe RESULT_VARIABLE failed)
if(failed)
    message(FATAL_ERROR "msiinfo cannot extract the custom action from ${MSI}")
endif()
execute_process(COMMAND ${OBJDUMP} -p ${WORK}-action.exe OUTPUT_VARIABLE dump RESULT_VARIABLE failed)
file(REMOVE ${WORK}-action.exe)
expect("${dump}" "\nSubsystem[ \t]+00000002[ \t]+\\(Windows GUI\\)" "custom action's subsystem")

# The service's access list at install: the very text the service sets and checks.
table(MsiLockPermissionsEx locks)
string(REPLACE "(" "\\(" sddl_pattern "${SDDL}")
string(REPLACE ")" "\\)" sddl_pattern "${sddl_pattern}")
expect("${locks}" "\nServiceAccess\tServiceInstall\tServiceInstall\t${sddl_pattern}\t" "service access list")
# And what that text says, read from the MSI itself: owner Administrators, OWNER RIGHTS
# read-control only, interactive users (standard accounts) query, start and the codes but
# no stop, five entries in all.
string(REGEX MATCH "\nServiceAccess\tServiceInstall\tServiceInstall\t([^\t]*)\t" row "${locks}")
set(msi_sddl "${CMAKE_MATCH_1}")
expect("${msi_sddl}" "^O:BAD:\\(" "the service's owner")
expect("${msi_sddl}" "\\(A;;RC;;;OW\\)" "OWNER RIGHTS")
expect("${msi_sddl}" "\\(A;;LCRPCR;;;IU\\)" "interactive users")
# (Counted by pieces without a semicolon, which would split a CMake list.)
string(REGEX MATCHALL "IU\\)" iu_entries "${msi_sddl}")
string(REGEX MATCHALL "\\(A" all_entries "${msi_sddl}")
list(LENGTH iu_entries iu_count)
list(LENGTH all_entries entry_count)
if(NOT iu_count EQUAL 1 OR NOT entry_count EQUAL 5)
    message(FATAL_ERROR "the MSI's service list has ${iu_count} entries for interactive users and ${entry_count} in all: ${msi_sddl}")
endif()

# Wine's task scheduler keeps no program, trigger or principal: the task's program is the
# installed Driveward.exe as the installer resolves it.
table(CustomAction actions)
expect("${actions}" "\nCheckSettings\t1\tInstallCheck\tCheckSettings" "the values' check")
expect("${actions}" "\nRegisterLogonTask\t3074\tInstallAction\tregister-task \"\\[#ClientExe\\]\"" "logon task")

# The Event Log source "Driveward": its key (created, and removed with everything in it),
# the message file by full installed path as REG_EXPAND_SZ, and the event types.
table(Registry registry)
set(source_key "SYSTEM\\\\CurrentControlSet\\\\Services\\\\EventLog\\\\Application\\\\Driveward")
expect("${registry}" "\nEventSourceKey\t2\t${source_key}\t\\*\t\tClient" "event source key")
expect("${registry}" "\nEventMessageFile\t2\t${source_key}\tEventMessageFile\t#%\\[#ClientExe\\]\tClient"
    "event message file")
expect("${registry}" "\nEventTypesSupported\t2\t${source_key}\tTypesSupported\t#7\tClient"
    "event types")
