; The Windows installer of Ventrix_P3D (NSIS 3, 64-bit). scripts/release.sh
; stages the files and runs:
;   makensis -DVERSION=11.9.2 -DSTAGE=<staged folder> -DOUTFILE=<setup exe> Ventrix_P3D.nsi
; The staged folder holds Ventrix_P3D.exe, input\*.enc and docs\ (README.txt,
; ReleaseNotes.pdf, licenses\). Silent use: setup.exe /S [/D=<folder>], the
; folder last and unquoted; uninstall.exe /S.

Unicode true
Target amd64-unicode
ManifestDPIAware true

!ifndef VERSION
  !error "VERSION is not defined (-DVERSION=major.minor.patch)"
!endif
!ifndef STAGE
  !error "STAGE is not defined (-DSTAGE=<folder of the staged files>)"
!endif
!ifndef OUTFILE
  !define OUTFILE "setup_Ventrix_P3D_d_v${VERSION}.exe"
!endif

!define PRODUCT "Ventrix_P3D"
!define UNINST_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
InstallDirRegKey HKLM "Software\${PRODUCT}" "InstallDir"
RequestExecutionLevel admin
SetCompressor /SOLID lzma
ShowInstDetails show
ShowUninstDetails show
BrandingText "${PRODUCT} ${VERSION}"

VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "${PRODUCT} installer"
VIAddVersionKey "LegalCopyright" "${PRODUCT} developers"

!include "MUI2.nsh"
!include "LogicLib.nsh"

!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN
!define MUI_FINISHPAGE_RUN_TEXT "Start ${PRODUCT}"
!define MUI_FINISHPAGE_RUN_FUNCTION StartProgram
!define MUI_FINISHPAGE_SHOWREADME "$INSTDIR\docs\README.txt"
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; The program works in the folder it lies in: start it there.
Function StartProgram
  SetOutPath "$INSTDIR"
  Exec '"$INSTDIR\${PRODUCT}.exe"'
FunctionEnd

; True ($0 = 1) when $INSTDIR lies in the Program Files folder given on the
; stack, which only administrators may write.
Function InstallDirUnder
  Exch $1
  Push $2
  Push $3
  StrCpy $0 0
  StrLen $2 $1
  StrCpy $3 $INSTDIR $2
  ${If} $3 == $1                 ; LogicLib's == ignores case
    StrCpy $3 $INSTDIR 1 $2
    ${If} $3 == "\"
    ${OrIf} $3 == ""
      StrCpy $0 1
    ${EndIf}
  ${EndIf}
  Pop $3
  Pop $2
  Pop $1
FunctionEnd

; Sets "Run as administrator" on a shortcut: the SLDF_RUNAS_USER bit (0x2000)
; of the link flags at offset 0x14 of the .lnk file.
Function MarkRunAsAdministrator
  Exch $1
  Push $2
  Push $3
  FileOpen $2 $1 a
  ${IfNot} ${Errors}
    FileSeek $2 0x15 SET
    FileReadByte $2 $3
    IntOp $3 $3 | 0x20
    FileSeek $2 0x15 SET
    FileWriteByte $2 $3
    FileClose $2
  ${EndIf}
  Pop $3
  Pop $2
  Pop $1
FunctionEnd

Section "${PRODUCT}" SecMain
  SectionIn RO
  SetShellVarContext all
  SetOverwrite on

  SetOutPath "$INSTDIR"
  File "${STAGE}\${PRODUCT}.exe"
  SetOutPath "$INSTDIR\input"
  File "${STAGE}\input\dbase.enc"
  File "${STAGE}\input\airports.enc"
  File "${STAGE}\input\AIG-regcodes.enc"
  SetOutPath "$INSTDIR\docs"
  File /r "${STAGE}\docs\*.*"

  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  ; The shortcut's working folder is the current output path: $INSTDIR.
  CreateDirectory "$SMPROGRAMS\${PRODUCT}"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}\${PRODUCT}.lnk" "$INSTDIR\${PRODUCT}.exe" "" "$INSTDIR\${PRODUCT}.exe" 0
  CreateShortcut "$SMPROGRAMS\${PRODUCT}\Uninstall ${PRODUCT}.lnk" "$INSTDIR\uninstall.exe"
  Push $PROGRAMFILES64
  Call InstallDirUnder
  ${If} $0 == 0
    Push $PROGRAMFILES32
    Call InstallDirUnder
  ${EndIf}
  ${If} $0 == 1
    Push "$SMPROGRAMS\${PRODUCT}\${PRODUCT}.lnk"
    Call MarkRunAsAdministrator
  ${EndIf}

  WriteRegStr HKLM "Software\${PRODUCT}" "InstallDir" "$INSTDIR"
  WriteRegStr HKLM "${UNINST_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINST_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINST_KEY}" "Publisher" "${PRODUCT} developers"
  WriteRegStr HKLM "${UNINST_KEY}" "DisplayIcon" "$INSTDIR\${PRODUCT}.exe"
  WriteRegStr HKLM "${UNINST_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINST_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINST_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINST_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINST_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  SetShellVarContext all

  ; What the installer put there.
  Delete "$INSTDIR\${PRODUCT}.exe"
  Delete "$INSTDIR\input\dbase.enc"
  Delete "$INSTDIR\input\airports.enc"
  Delete "$INSTDIR\input\AIG-regcodes.enc"
  RMDir /r "$INSTDIR\docs"

  ; What the program writes beside itself: logs, reports, plain twins of the
  ; data files, downloaded and learned park files, a downloaded new version.
  Delete "$INSTDIR\Log*.txt"
  Delete "$INSTDIR\tblo.zip"
  Delete "$INSTDIR\input\*.xml"
  RMDir /r "$INSTDIR\output"
  RMDir /r "$INSTDIR\tblo"
  RMDir /r "$INSTDIR\new_version"
  RMDir /r "$INSTDIR\airports\learned"
  RMDir /r "$INSTDIR\airports\stock"
  Delete "$INSTDIR\airports\*.xml"
  ; The user's own files stay: these go only when empty.
  RMDir "$INSTDIR\airports\my_ORBX"
  RMDir "$INSTDIR\airports\my_thirdparty"
  RMDir "$INSTDIR\airports"
  RMDir "$INSTDIR\input\my_regcodes"
  RMDir "$INSTDIR\input"

  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"

  Delete "$SMPROGRAMS\${PRODUCT}\${PRODUCT}.lnk"
  Delete "$SMPROGRAMS\${PRODUCT}\Uninstall ${PRODUCT}.lnk"
  RMDir "$SMPROGRAMS\${PRODUCT}"

  DeleteRegKey HKLM "${UNINST_KEY}"
  DeleteRegKey HKLM "Software\${PRODUCT}"
SectionEnd
