# Intune, Windows app (Win32): Detection rules > Rules format: Use a custom
# detection script > Script file: this file.
#   Run script as 32-bit process on 64-bit clients: No
#   The app's Program page: Install behavior System
#   Enforce script signature check and run script silently: No (or sign it)
# The app counts as installed (exit 0, one line on standard output) when
# WapiSupport is set on every adapter tessary.exe would pick, and also when
# there is no adapter to act on. It is not installed (exit 0, nothing) when
# the setting is not in force, or when the installed check is gone, as after
# an uninstall. A machine that cannot be read exits 4. The decision is made
# by tessary-preflight.exe --detect, not here.
$ErrorActionPreference = 'SilentlyContinue'
& "$env:ProgramW6432\Tessary\tessary-preflight.exe" --detect /a; exit $LASTEXITCODE
