; A small real installer for the demo: installs a text file, writes its uninstall
; registration and an uninstaller. Built at build time; the run list starts it with /S.
; WIN64 makes a 64-bit installer for the 64-bit build: it installs where 64-bit programs look.
!ifdef WIN64
Target amd64-unicode
InstallDir "$PROGRAMFILES64\Velk Notes"
!else
Unicode false
InstallDir "$PROGRAMFILES\Velk Notes"
!endif
Name "Velk Notes"
OutFile "${OUTFILE}"
RequestExecutionLevel admin
SilentInstall normal

Section "Install"
!ifdef WIN64
  SetRegView 64
!endif
  SetOutPath "$INSTDIR"
  File "readme.txt"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  WriteRegStr HKLM "Software\Microsoft\Windows\CurrentVersion\Uninstall\VelkNotes" "DisplayName" "Velk Notes"
  WriteRegStr HKLM "Software\Microsoft\Windows\CurrentVersion\Uninstall\VelkNotes" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "Software\Microsoft\Windows\CurrentVersion\Uninstall\VelkNotes" "DisplayVersion" "1.0"
SectionEnd

Section "Uninstall"
!ifdef WIN64
  SetRegView 64
!endif
  Delete "$INSTDIR\readme.txt"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "Software\Microsoft\Windows\CurrentVersion\Uninstall\VelkNotes"
SectionEnd
