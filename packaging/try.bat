@echo off
rem SPDX-License-Identifier: MIT
rem Converts the four sample frames (16 x 12) beside this script, and says where the video went:
rem color frames in rgb555le, gray ones in rgb565le. In a batch file each percent sign
rem of a pattern is written twice.
cd /d "%~dp0"
bin\pellucor.exe --color-format rgb555le --gray-format rgb565le "samples\frame%%02d.tga" "%USERPROFILE%\pellucor-sample.raw" 1 4 16 12
if errorlevel 1 (
  echo The samples did not convert.
) else (
  echo The video is in %USERPROFILE%\pellucor-sample.raw: four frames of 16 x 12, 384 bytes each.
)
pause
