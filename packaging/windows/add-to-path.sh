#!/usr/bin/env bash
# Adds the install folder to the machine's PATH in an installer wixl made, and takes it
# out again on uninstall: wixl knows no <Environment>, so the Environment table and the
# two actions that apply it are added to the package with msitools.
#   add-to-path.sh MSI COMPONENT
set -euo pipefail
msi=$1 component=$2
tables=$(mktemp -d)
trap 'rm -rf "$tables"' EXIT
msi=$(realpath "$msi")
cd "$tables"
# Binary streams land in the current folder: here, with the tables.
msidump -d . -t "$msi" >/dev/null
# "=" sets the variable, "-" removes the part on uninstall, "*" is the machine's own;
# "[~];" keeps what PATH holds and appends to it.
printf 'Environment\tName\tValue\tComponent_\ns72\tl255\tL255\ts72\nEnvironment\tEnvironment\nPath\t=-*PATH\t[~];[INSTALLDIR]\t%s\n' \
    "$component" >Environment.idt
# At the places the installer's standard sequence gives them.
printf 'RemoveEnvironmentStrings\t\t3300\nWriteEnvironmentStrings\t\t5200\n' \
    >>InstallExecuteSequence.idt
msibuild "$msi" -i Environment.idt -i InstallExecuteSequence.idt
