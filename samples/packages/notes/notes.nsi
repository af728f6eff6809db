; A small real installer for the demo: installs a text file, writes its uninstall
; registration and an uninstaller. Built at build time; the run list starts it with /S.
Unicode false
Name "Velk Notes"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES\Velk Notes"
RequestExecutionLevel admin
SilentInstall normal

Section "Install"
  SetOutPath "$INSTDIR"
  File "readme.txt"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  WriteRegStr HKLM "Software\Microsoft\Windows\CurrentVersion\Uninstall\VelkNotes" "DisplayName" "Velk Notes"
  WriteRegStr HKLM "Software\Microsoft\Windows\CurrentVersion\Uninstall\VelkNotes" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "Software\Microsoft\Windows\CurrentVersion\Uninstall\VelkNotes" "DisplayVersion" "1.0"
SectionEnd

Section "Uninstall"
  Delete "$INSTDIR\readme.txt"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "Software\Microsoft\Windows\CurrentVersion\Uninstall\VelkNotes"
SectionEnd
