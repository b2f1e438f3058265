@echo off
rem Group Policy: Computer Configuration > Policies > Windows Settings >
rem Scripts (Startup/Shutdown) > Startup: this file, in the unpacked package's
rem folder on a share that the computer accounts may read. Startup scripts run as
rem SYSTEM. Enable "Always wait for the network at computer startup and
rem logon" (Computer Configuration > Administrative Templates > System >
rem Logon), or the share may not be reachable yet.
"%~dp0..\tessary-deploy.exe" /a
exit /b %errorlevel%
