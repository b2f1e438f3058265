# Configuration Manager, compliance settings: the same setting's Remediation
# script (PowerShell), this file's content. It runs the deployment installed
# by the application; the rule is evaluated again afterwards.
# Where the installed deployment is missing, the exit status stays 1.
$global:LASTEXITCODE = 1
& "$env:ProgramW6432\Tessary\tessary-deploy.exe" /a; exit $LASTEXITCODE
