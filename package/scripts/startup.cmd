@echo off
rem Group Policy: Computer Configuration > Policies > Windows Settings >
rem Scripts (Startup/Shutdown) > Startup, this file on a share beside the three
rem programs, readable by the computer accounts. Startup scripts run as
rem SYSTEM. Enable "Always wait for the network at computer startup and
rem logon" (Computer Configuration > Administrative Templates > System >
rem Logon), or the share may not be reachable yet.
"%~dp0tessary-deploy.exe" /a
exit /b %errorlevel%
