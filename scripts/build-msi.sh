#!/bin/sh
# Builds Driveward.msi: wixl compiles installer/Driveward.wxs from a folder holding exactly
# the files that ship, then msibuild adds what wixl cannot express (the service's access
# list, the custom actions for the INI files, the service's path and the logon task, the
# upgrade's placement).
#   build-msi.sh OUTPUT PRODUCT_VERSION FILE_VERSION SERVICE_SDDL SOURCE_DIR CLIENT_EXE
#                SERVICE_EXE ACTION_EXE CHECK_DLL
# PRODUCT_VERSION is MAJOR.MINOR.BUILD, the three fields Windows Installer compares;
# FILE_VERSION the programs' own four-field version.
set -eu
output=$1
version=$2
file_version=$3
sddl=$4
source_dir=$5
stage="$output.stage"

rm -rf "$stage" "$output"
mkdir -p "$stage"
cp "$6" "$stage/Driveward.exe"
cp "$7" "$stage/DrivewardService.exe"
cp "$8" "$stage/DrivewardInstallAction.exe"
cp "$9" "$stage/DrivewardInstallCheck.dll"
(cd "$stage" && wixl -a x64 -D Version="$version" -D Stage=. -o "$output" "$source_dir/installer/Driveward.wxs")

q() { msibuild "$output" -q "$1"; }

# The executables' version, so that Windows Installer compares versions when it replaces
# them (wixl leaves the column empty).
q "UPDATE \`File\` SET \`Version\` = '$file_version' WHERE \`File\` = 'ClientExe'"
q "UPDATE \`File\` SET \`Version\` = '$file_version' WHERE \`File\` = 'ServiceExe'"

# Only the upgrade's own properties cross into the elevated part of an installation. DEBUG
# and LOGPATH are not listed: a user who is not an administrator must not pass them into
# an elevated (for example advertised) installation, where the custom action writes them
# as SYSTEM. An administrator's own elevated msiexec still passes them.
q "UPDATE \`Property\` SET \`Value\` = 'WIX_DOWNGRADE_DETECTED;WIX_UPGRADE_DETECTED' WHERE \`Property\` = 'SecureCustomProperties'"

# The INI files are written by a custom action (below) at the first installation and kept
# by every upgrade; they go when Driveward.exe's component goes (2: on removal).
for ini in Driveward.ini DrivewardService.ini; do
    q "INSERT INTO \`RemoveFile\` (\`FileKey\`, \`Component_\`, \`FileName\`, \`DirProperty\`, \`InstallMode\`) VALUES ('$ini', 'Client', '$ini', 'InstallFolder', 2)"
done

# The Event Log source "Driveward" in the Application log: its message table is in
# Driveward.exe, named by its full installed path (REG_EXPAND_SZ, "#%"), for errors,
# warnings and information (7). The row named "*" creates the key and deletes it, values
# and all, when Driveward.exe's component is removed. (wixl writes neither a REG_EXPAND_SZ
# nor that row.)
eventlog_key='SYSTEM\CurrentControlSet\Services\EventLog\Application\Driveward'
reg() { q "INSERT INTO \`Registry\` (\`Registry\`, \`Root\`, \`Key\`, \`Name\`${3-}, \`Component_\`) VALUES ('$1', 2, '$eventlog_key', '$2'${4-}, 'Client')"; }
reg EventSourceKey '*'
reg EventMessageFile EventMessageFile ", \`Value\`" ", '#%[#ClientExe]'"
reg EventTypesSupported TypesSupported ", \`Value\`" ", '#7'"

# The service's access list, set by the installer as it creates the service: the same one
# the service sets and checks at every start (companion/ServiceSecurity_win.h).
q "CREATE TABLE \`MsiLockPermissionsEx\` (\`MsiLockPermissionsEx\` CHAR(72) NOT NULL, \`LockObject\` CHAR(72) NOT NULL, \`Table\` CHAR(32) NOT NULL, \`SDDLText\` LONGCHAR NOT NULL, \`Condition\` CHAR(255) PRIMARY KEY \`MsiLockPermissionsEx\`)"
q "INSERT INTO \`MsiLockPermissionsEx\` (\`MsiLockPermissionsEx\`, \`LockObject\`, \`Table\`, \`SDDLText\`) VALUES ('ServiceAccess', 'ServiceInstall', 'ServiceInstall', '$sddl')"

# The custom actions (installer/InstallAction_win.cpp), run as SYSTEM from the Binary
# table: 3074 = executable in Binary (2) + deferred (1024) + not impersonated (2048);
# 3330 = the same as a rollback action (+256). Their conditions follow Driveward.exe's
# component: 3 when it is installed, 2 when it is removed. The older version's removal
# during an upgrade leaves that shared component in place (2 does not hold), so it removes
# neither the task nor anything else that the newer version has just put there.
# - the INI files: created when missing, and the values given on the command line written
#   into them, also by a later installation of a product that is installed (Installed);
# - the service's path in quotes, as soon as the service exists;
# - the logon task, after the files are in place; removed again if a first installation
#   rolls back, and when the product is removed.
action() { q "INSERT INTO \`CustomAction\` (\`Action\`, \`Type\`, \`Source\`, \`Target\`) VALUES ('$1', $2, 'InstallAction', '$3')"; }
action WriteIniFiles 3074 'write-ini "[#ClientExe]" "[DEBUG]" "[LOGPATH]"'
action QuoteServicePath 3074 'quote-service-path "[#ServiceExe]"'
action RegisterLogonTask 3074 'register-task "[#ClientExe]"'
action RollBackLogonTask 3330 remove-task
action RemoveLogonTask 3074 remove-task
action StartServiceAgain 3074 start-service

seq() { q "INSERT INTO \`InstallExecuteSequence\` (\`Action\`, \`Condition\`, \`Sequence\`) VALUES ('$1', '$2', $3)"; }
seq RemoveLogonTask '$Client=2' 1950
seq WriteIniFiles '$Client=3 OR (Installed AND NOT REMOVE~="ALL" AND (DEBUG OR LOGPATH))' 5100
seq QuoteServicePath '$Service=3' 5850
seq RollBackLogonTask '$Client=3 AND NOT WIX_UPGRADE_DETECTED' 5910
seq RegisterLogonTask '$Client=3' 5920

# The older version is removed after the newer one is installed, so that its removal finds
# the shared components in use and leaves them (the service, the INI files); a rebuild with
# the same version replaces the installed one as well (VersionMaxInclusive, 512, with MigrateFeatures, 1).
seq InstallExecute '' 6500
q "UPDATE \`InstallExecuteSequence\` SET \`Sequence\` = 6550 WHERE \`Action\` = 'RemoveExistingProducts'"
# Attributes is part of the Upgrade table's key: the row is replaced, not updated.
q "DELETE FROM \`Upgrade\` WHERE \`ActionProperty\` = 'WIX_UPGRADE_DETECTED'"
q "INSERT INTO \`Upgrade\` (\`UpgradeCode\`, \`VersionMax\`, \`Attributes\`, \`ActionProperty\`) VALUES ('{92EB9A20-3DE8-40B2-B541-66C60955E069}', '$version', 513, 'WIX_UPGRADE_DETECTED')"

# Before anything changes (immediate, from DrivewardInstallCheck.dll, type 1):
# - a downgrade, refused with the launch condition's message before the launch conditions
#   run (Wine's installer refuses it without a word in its log or its error);
# - DEBUG and LOGPATH, checked with the programs' own rules: the installation's error when
#   one is refused;
# - whether the service runs or a tray monitor does (also at a removal). An upgrade or
#   repair stops the service to replace its program (ServiceControl); it is started again
#   at the very end, after the older version's removal, when it ran before or a tray
#   monitor runs. A removal leaves it stopped.
for check in RefuseDowngrade CheckSettings NoteServiceWanted; do
    q "INSERT INTO \`CustomAction\` (\`Action\`, \`Type\`, \`Source\`, \`Target\`) VALUES ('$check', 1, 'InstallCheck', '$check')"
done
seq RefuseDowngrade 'WIX_DOWNGRADE_DETECTED AND NOT REMOVE~="ALL"' 90
seq CheckSettings 'NOT REMOVE~="ALL"' 1010
seq NoteServiceWanted '' 1020
seq StartServiceAgain '$Service=3 AND DrivewardServiceWanted AND NOT REMOVE~="ALL"' 6560
# A running tray monitor holds Driveward.exe: an upgrade, repair or removal then asks for a
# restart (3010 with /norestart) on every engine (Wine's installer says nothing of a file in
# use), and the next logon starts the new tray monitor.
seq ScheduleReboot 'DrivewardTrayMonitors AND (Installed OR WIX_UPGRADE_DETECTED)' 6590
rm -rf "$stage"
