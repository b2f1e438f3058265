@echo off
rem Group Policy: the startup script that removes the setting again, in place
rem of startup.cmd, in the same folder and with the same settings.
"%~dp0..\tessary-deploy.exe" /d
exit /b %errorlevel%
