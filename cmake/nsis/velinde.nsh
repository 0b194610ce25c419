; What the installer adds to CPack's own NSIS script: the codec's
; registration and the file association, and taking both away again.
; Everything goes under HKLM: the installer runs as administrator, and keys
; under HKCU\Software\Classes are not read by every Wine version.

!define VELINDE_UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Velinde for Win"
!define VELINDE_PROGID "Velinde.Picture"

!macro VelindeAssociate EXT
  WriteRegStr HKLM "Software\Classes\${EXT}" "" "${VELINDE_PROGID}"
!macroend

; A program that took the extension over since keeps it.
!macro VelindeDissociate EXT
  ReadRegStr $0 HKLM "Software\Classes\${EXT}" ""
  StrCmp $0 "${VELINDE_PROGID}" 0 +2
    DeleteRegValue HKLM "Software\Classes\${EXT}" ""
  DeleteRegKey /ifempty HKLM "Software\Classes\${EXT}"
!macroend

; Takes the installed copy away before files are written, wherever it is.
; Run in place (_?=) so that ExecWait waits for it, the old uninstaller
; cannot delete itself or its folder; left there, it would later take away
; the registrations of this install. So both go here once it has finished.
!macro VelindeRemovePrevious
  SetRegView 64
  ReadRegStr $R0 HKLM "${VELINDE_UNINSTALL_KEY}" "InstallLocation"
  StrCmp $R0 "" velinde_no_previous
  IfFileExists "$R0\Uninstall.exe" 0 velinde_no_previous
  ClearErrors
  ExecWait '"$R0\Uninstall.exe" /S _?=$R0' $R1
  IfErrors velinde_no_previous
  StrCmp $R1 0 0 velinde_no_previous
  Delete "$R0\Uninstall.exe"
  ; The folder about to be filled again is the installer's working folder.
  StrCmp $R0 $INSTDIR velinde_no_previous
  RMDir "$R0"
  velinde_no_previous:
!macroend

!macro VelindeRegister
  SetRegView 64
  ; The codec also marks both extensions as pictures with Explorer's photo
  ; thumbnail provider. When it cannot register, the installer says so, and
  ; a silent install exits with status 2 instead of 0.
  ClearErrors
  RegDLL "$INSTDIR\vldwic.dll"
  IfErrors 0 velinde_registered
    SetErrorLevel 2
    MessageBox MB_OK|MB_ICONEXCLAMATION "vldwic.dll could not be registered: other programs will not open the pictures." /SD IDOK
  velinde_registered:
  WriteRegStr HKLM "Software\Classes\${VELINDE_PROGID}" "" "Velinde for Win picture"
  WriteRegStr HKLM "Software\Classes\${VELINDE_PROGID}\DefaultIcon" "" "$INSTDIR\velinde.exe,0"
  WriteRegStr HKLM "Software\Classes\${VELINDE_PROGID}\shell\open\command" "" '"$INSTDIR\velinde.exe" "%1"'
  !insertmacro VelindeAssociate ".vld"
  !insertmacro VelindeAssociate ".tft"
  WriteRegStr HKLM "${VELINDE_UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegStr HKLM "${VELINDE_UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  ; SHCNE_ASSOCCHANGED: Explorer reads the new types and icons.
  System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'
!macroend

!macro VelindeUnregister
  SetRegView 64
  ; An uninstaller left in a folder the program has since moved away from
  ; owns nothing registered: Apps & features, the Start menu folder and the
  ; install folder's record name the new folder. CPack's script removes
  ; them through the shell context's root and folders, so pointing that at
  ; the current user, where none of them are, keeps them; the files it
  ; deletes are named by this uninstaller's own folder and still go.
  ReadRegStr $R0 HKLM "${VELINDE_UNINSTALL_KEY}" "UninstallString"
  StrCmp $R0 "" velinde_own_entry
  StrCmp $R0 '"$INSTDIR\Uninstall.exe"' velinde_own_entry
    SetShellVarContext current
  velinde_own_entry:
  ; The codec removes its registration only where it names this very file.
  UnRegDLL "$INSTDIR\vldwic.dll"
  ; Explorer may still hold the codec; then it goes at the next restart.
  Delete /REBOOTOK "$INSTDIR\vldwic.dll"
  ; The association and the type go only while they open this folder's viewer.
  ReadRegStr $R0 HKLM "Software\Classes\${VELINDE_PROGID}\shell\open\command" ""
  StrCmp $R0 "" velinde_own_type
  StrCmp $R0 '"$INSTDIR\velinde.exe" "%1"' velinde_own_type velinde_not_own_type
  velinde_own_type:
    !insertmacro VelindeDissociate ".vld"
    !insertmacro VelindeDissociate ".tft"
    DeleteRegKey HKLM "Software\Classes\${VELINDE_PROGID}"
  velinde_not_own_type:
  System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'
!macroend

; CPack's script removes its own key under the vendor's but leaves the
; vendor's key; this runs after it.
Function un.onUninstSuccess
  SetRegView 64
  DeleteRegKey /ifempty HKLM "Software\the Velinde for Win developers"
  RMDir /REBOOTOK "$INSTDIR"
FunctionEnd
