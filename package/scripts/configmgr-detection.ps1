# Configuration Manager, application, Script Installer deployment type:
# Detection Method > Use a custom script to detect the presence of this
# deployment type > Script type: PowerShell > Open: this file (a signed
# script must be opened, not pasted).
#   Run script as 32-bit process on 64-bit clients: leave unchecked
#   User Experience: Installation behavior Install for system, Logon
#   requirement Whether or not a user is logged on (not the default)
#   Client Settings > Computer Agent > PowerShell execution policy is All
#   Signed by default: sign this script, or set Bypass
# Installed: exit 0 with one line on standard output (WapiSupport set on every
# adapter tessary.exe would pick, or no adapter to act on). Not installed:
# exit 0 with nothing on standard output or standard error (the setting not
# in force, or the installed check gone after an uninstall). A machine that
# cannot be read exits 4, which Configuration Manager reports as Unknown.
# The decision is made by tessary-preflight.exe --detect, not here.
$ErrorActionPreference = 'SilentlyContinue'
& "$env:ProgramW6432\Tessary\tessary-preflight.exe" --detect /a; exit $LASTEXITCODE
