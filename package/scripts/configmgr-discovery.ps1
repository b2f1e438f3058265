# Configuration Manager, compliance settings: a configuration item with a
# setting of type Script, data type String > Discovery script: PowerShell,
# open this file (a signed script must be opened, not pasted). Compliance
# rule: Equals Compliant, with "Run the specified remediation script when
# this setting is noncompliant"; deploy the baseline with "Remediate
# noncompliant rules when supported", to devices that have the adapters.
#   Run scripts by using the 32-bit scripting host on 64-bit devices: leave unchecked
#   Run scripts by using the logged on user credentials: leave unchecked, so
#   that both scripts run as the client does, not as the user
#   Client Settings > Computer Agent > PowerShell execution policy is All
#   Signed by default: sign both scripts, or set Bypass
#   Client Settings > Compliance Settings > Script Execution Timeout: 600
#   (the default, 60 seconds, can stop the remediation midway)
# Writes exactly one value: Compliant, NotCompliant (the setting not in
# force, or an interrupted run left an adapter disabled) or NotApplicable (no
# adapter to act on), and exits 0; a machine that cannot be read exits 4.
# The decision is made by tessary-preflight.exe --compliance-value, not here.
# Where the installed check is missing, the exit status stays 1: an error.
$global:LASTEXITCODE = 1
& "$env:ProgramW6432\Tessary\tessary-preflight.exe" --compliance-value /a; exit $LASTEXITCODE
