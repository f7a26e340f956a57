; KOV's setup program. scripts/package.sh builds it:
;
;   makensis -DKOV_VERSION=1.0.0.1 -DKOV_STAGE=<folder> -DKOV_OUT=<file> KOV.nsi
;
; KOV_STAGE holds the four files it installs: KOV.EXE, rmrate.exe, README.txt
; and LICENSE.txt. It installs them under Program Files, adds a Start menu
; shortcut, makes .rm, .rmvb and .rv files open in KOV ("...\KOV.EXE" /%1:
; KOV takes everything after the '/' as the path, blanks included) and
; registers its uninstaller. Its last page offers to run KOV. /S installs
; silently, and starts nothing. The uninstaller removes all of it, and leaves
; an association that is no longer KOV's alone.

Unicode true
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!ifndef KOV_VERSION | KOV_STAGE | KOV_OUT
  !error "define KOV_VERSION, KOV_STAGE and KOV_OUT (scripts/package.sh does)"
!endif

; The setup program is named after KOV_VERSION: KOV.EXE's version resource
; must say the same.
!getdllversion "${KOV_STAGE}/KOV.EXE" KOV_EXE_VERSION_
!define KOV_EXE_VERSION "${KOV_EXE_VERSION_1}.${KOV_EXE_VERSION_2}.${KOV_EXE_VERSION_3}.${KOV_EXE_VERSION_4}"
!if "${KOV_EXE_VERSION}" != "${KOV_VERSION}"
  !error "KOV.EXE is version ${KOV_EXE_VERSION}, the package ${KOV_VERSION}"
!endif

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh

!define PUBLISHER "the KOV developers"
; KOV's file type, which .rm and .rmvb point to while they are KOV's.
!define PROGID "KOV.RealMedia"
!define CLASSES "Software\Classes"
; Where the setup keeps what it needs to undo: the install folder, and the
; file type each extension had before KOV took it.
!define KOV_KEY "Software\KOV"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\KOV"
!define SHCNE_ASSOCCHANGED 0x08000000

Name "KOV"
OutFile "${KOV_OUT}"
InstallDir "$PROGRAMFILES\KOV"
InstallDirRegKey HKLM "${KOV_KEY}" "InstallDir"
ShowInstDetails nevershow
ShowUninstDetails nevershow
; No line naming the installer system under the pages: a space, since an
; empty text would be its default.
BrandingText " "

VIProductVersion "${KOV_VERSION}"
VIAddVersionKey /LANG=1033 "ProductName" "KOV"
VIAddVersionKey /LANG=1033 "FileDescription" "KOV setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${KOV_VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${KOV_VERSION}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "Copyright (c) 2026 ${PUBLISHER}"

!define MUI_ICON "..\..\shell\art\kov.ico"
!define MUI_UNICON "..\..\shell\art\kov.ico"
!insertmacro MUI_PAGE_LICENSE "${KOV_STAGE}/LICENSE.txt"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
; The last page's "Run KOV", ticked; a silent install shows no page and so
; starts nothing.
!define MUI_FINISHPAGE_RUN "$INSTDIR\KOV.EXE"
!define MUI_FINISHPAGE_RUN_TEXT "Run KOV"
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; Opening a file of this extension starts KOV. The file type it had (if any,
; and not KOV's already) is kept, to be put back on removal.
!macro Associate EXTENSION
  ReadRegStr $0 HKLM "${CLASSES}\${EXTENSION}" ""
  ${If} $0 != "${PROGID}"
    WriteRegStr HKLM "${KOV_KEY}\PreviousFileTypes" "${EXTENSION}" "$0"
  ${EndIf}
  WriteRegStr HKLM "${CLASSES}\${EXTENSION}" "" "${PROGID}"
  WriteRegStr HKLM "${CLASSES}\${EXTENSION}\OpenWithProgids" "${PROGID}" ""
!macroend

; Undoes Associate. An extension that another program has taken since is
; left as it is; one still KOV's gets its previous file type back, or none.
; Keys are deleted only when nothing else is left in them.
!macro Unassociate EXTENSION
  DeleteRegValue HKLM "${CLASSES}\${EXTENSION}\OpenWithProgids" "${PROGID}"
  DeleteRegKey /ifempty HKLM "${CLASSES}\${EXTENSION}\OpenWithProgids"
  ReadRegStr $0 HKLM "${CLASSES}\${EXTENSION}" ""
  ${If} $0 == "${PROGID}"
    ReadRegStr $1 HKLM "${KOV_KEY}\PreviousFileTypes" "${EXTENSION}"
    ${If} $1 == ""
      DeleteRegValue HKLM "${CLASSES}\${EXTENSION}" ""
    ${Else}
      WriteRegStr HKLM "${CLASSES}\${EXTENSION}" "" "$1"
    ${EndIf}
  ${EndIf}
  DeleteRegKey /ifempty HKLM "${CLASSES}\${EXTENSION}"
!macroend

Section "KOV"
  SectionIn RO
  SetOutPath "$INSTDIR"
  File "${KOV_STAGE}/KOV.EXE"
  File "${KOV_STAGE}/rmrate.exe"
  File "${KOV_STAGE}/README.txt"
  File "${KOV_STAGE}/LICENSE.txt"
  WriteUninstaller "$INSTDIR\Uninstall.exe"
  WriteRegStr HKLM "${KOV_KEY}" "InstallDir" "$INSTDIR"

  SetShellVarContext all
  CreateShortcut "$SMPROGRAMS\KOV.lnk" "$INSTDIR\KOV.EXE"

  WriteRegStr HKLM "${CLASSES}\${PROGID}" "" "RealMedia file"
  WriteRegStr HKLM "${CLASSES}\${PROGID}\DefaultIcon" "" '"$INSTDIR\KOV.EXE",0'
  WriteRegStr HKLM "${CLASSES}\${PROGID}\shell\open\command" "" '"$INSTDIR\KOV.EXE" /%1'
  !insertmacro Associate ".rm"
  !insertmacro Associate ".rmvb"
  !insertmacro Associate ".rv"
  System::Call 'shell32::SHChangeNotify(i ${SHCNE_ASSOCCHANGED}, i 0, p 0, p 0)'

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "KOV"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${KOV_VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" '"$INSTDIR\KOV.EXE",0'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Section "Uninstall"
  ; Only what the setup put there: the folder goes only if it is empty then.
  Delete "$INSTDIR\KOV.EXE"
  Delete "$INSTDIR\rmrate.exe"
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\LICENSE.txt"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"

  SetShellVarContext all
  Delete "$SMPROGRAMS\KOV.lnk"

  !insertmacro Unassociate ".rm"
  !insertmacro Unassociate ".rmvb"
  !insertmacro Unassociate ".rv"
  DeleteRegKey HKLM "${CLASSES}\${PROGID}"
  System::Call 'shell32::SHChangeNotify(i ${SHCNE_ASSOCCHANGED}, i 0, p 0, p 0)'

  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  DeleteRegKey HKLM "${KOV_KEY}"
SectionEnd
