@echo off
rem Shows tvflash at work without a board: tvflash-demo.exe, beside this file, starts
rem tvflash-sim.exe on a free port of 127.0.0.1, runs version, getconfig, updatesys of an image it
rem writes, getconfig and erasesys against it, and says whether every step did what it should.
rem Run it from a console, or double-click it. Exit status 0 only when every step passed.
setlocal EnableExtensions DisableDelayedExpansion

rem A double-click runs this file with "cmd /c" in a console of its own, which closes when it ends;
rem the demo then waits for a key unless another program shares the console.
set "hold="
setlocal EnableDelayedExpansion
set "launch=!cmdcmdline!"
if defined launch if /i "!launch:/c=!" neq "!launch!" set "hold=--hold-console"
endlocal & set "hold=%hold%"

"%~dp0tvflash-demo.exe" %hold%
exit /b %errorlevel%
