# Intune, Devices > Scripts and remediations > Remediations > Detection
# script file: this file; Remediation script file: remediation.ps1.
#   Run this script using the logged-on credentials: No (it runs as System)
#   Enforce script signature check: No (with Yes, the device's execution
#   policy applies, Restricted by default, and the signer must be in its
#   Trusted Publishers store)
#   Run script in 64-bit PowerShell: Yes
# Exit 1 (run the remediation) when WapiSupport is not in force on an adapter
# tessary.exe would pick, when an interrupted run left an adapter disabled,
# or when the machine cannot be read; exit 0 when it is in force or there is
# no adapter to act on. Its one line is the detection output Intune shows.
# The decision is made by tessary-preflight.exe --needs-remediation, not here.
# Where the installed check is missing, PowerShell's error goes to standard
# error and the exit status stays 1, so the device shows an issue.
$global:LASTEXITCODE = 1
& "$env:ProgramW6432\Tessary\tessary-preflight.exe" --needs-remediation /a; exit $LASTEXITCODE
