# Configuration Manager, compliance settings: the same setting's Remediation
# script (PowerShell), opened from this file. It runs the deployment installed
# by the application; the rule is evaluated again afterwards.
#   Settings: those of the discovery script (not the 32-bit host, not the
#   logged on user's credentials: the deployment needs an elevated account)
# Configuration Manager reports a remediation's failure from an exception,
# not from its exit status: the rule's evaluation afterwards shows whether
# it worked, and the deployment's lines are in its log.
# Where the installed deployment is missing, the exit status stays 1.
$global:LASTEXITCODE = 1
& "$env:ProgramW6432\Tessary\tessary-deploy.exe" /a; exit $LASTEXITCODE
