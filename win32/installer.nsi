; tessel-setup.exe: puts tessel.exe, tessel-cli.exe and the help topics
; under Program Files, adds a Start-menu entry, registers the uninstaller
; with Windows and lets both programs receive on UDP port 67 through the
; firewall. /S installs and uninstalls silently. scripts/package-windows
; builds it with makensis, giving STAGE (the files), OUTFILE and HELP_FILES
; (an include naming each help page, so that the uninstaller removes
; exactly the pages it installed and leaves a user's own files).
; A 64-bit installer for 64-bit programs: it writes the 64-bit views of
; Program Files and the registry directly (and runs under a 64-bit-only Wine).
Target amd64-unicode
SetCompressor /SOLID lzma

!define PRODUCT "MERROW Tessel"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\MERROW Tessel"
!define FIREWALL_RULE "MERROW Tessel (BOOTP server port)"
!include "${HELP_FILES}"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
; Program Files, the machine's Start menu and the firewall need an
; administrator; the programs themselves run as the user (port 67 needs
; no rights on Windows).
RequestExecutionLevel admin
VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "FileDescription" "${PRODUCT} setup"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "CompanyName" "Merrow Communications"
Icon "${STAGE}\tessel.ico"
UninstallIcon "${STAGE}\tessel.ico"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

; The Start-menu entry is the machine's, for every user.
Function .onInit
  SetShellVarContext all
FunctionEnd

Function un.onInit
  SetShellVarContext all
FunctionEnd

Section "Install"
  SetOutPath "$INSTDIR"
  File "${STAGE}\tessel.exe"
  File "${STAGE}\tessel-cli.exe"
  SetOutPath "$INSTDIR\help"
  !insertmacro INSTALL_HELP_FILES
  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  CreateDirectory "$SMPROGRAMS\${PRODUCT}"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}\${PRODUCT}.lnk" "$INSTDIR\tessel.exe"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Merrow Communications"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\tessel.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1

  ; Servers ask by broadcast to port 67: without this rule Windows' firewall
  ; drops their requests (or asks the user the first time). A firewall that
  ; is off or absent makes netsh fail, which is no reason to stop. A
  ; reinstall replaces the rules: those of an earlier install (every rule
  ; of that name) go first, so each program keeps exactly one.
  nsExec::ExecToLog 'netsh advfirewall firewall delete rule name="${FIREWALL_RULE}"'
  Pop $0
  nsExec::ExecToLog 'netsh advfirewall firewall add rule name="${FIREWALL_RULE}" dir=in action=allow protocol=UDP localport=67 program="$INSTDIR\tessel.exe"'
  Pop $0
  nsExec::ExecToLog 'netsh advfirewall firewall add rule name="${FIREWALL_RULE}" dir=in action=allow protocol=UDP localport=67 program="$INSTDIR\tessel-cli.exe"'
  Pop $0
SectionEnd

Section "Uninstall"
  nsExec::ExecToLog 'netsh advfirewall firewall delete rule name="${FIREWALL_RULE}"'
  Pop $0
  Delete "$SMPROGRAMS\${PRODUCT}\${PRODUCT}.lnk"
  RMDir "$SMPROGRAMS\${PRODUCT}"
  !insertmacro REMOVE_HELP_FILES
  RMDir "$INSTDIR\help"
  Delete "$INSTDIR\tessel.exe"
  Delete "$INSTDIR\tessel-cli.exe"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
