@echo off
rem Group Policy: the startup script that removes the setting again, in place
rem of startup.cmd, on the same share and with the same settings.
"%~dp0tessary-deploy.exe" /d
exit /b %errorlevel%
