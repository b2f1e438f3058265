# Intune, Remediations: the remediation script file, beside
# remediation-detection.ps1 (same settings). It runs the deployment installed
# by the Win32 app, so the device needs no share: exit 0 when the setting is
# in force, 3010 when it is set and the computer's next restart puts it in
# force (nothing here restarts it), 1 when not, 1618 when another
# deployment is running.
# Intune keeps only this script's error output; the detection's line after
# it shows the outcome, and the deployment's own lines are in its log.
# Where the installed deployment is missing, the exit status stays 1.
$global:LASTEXITCODE = 1
& "$env:ProgramW6432\Tessary\tessary-deploy.exe" /a; exit $LASTEXITCODE
