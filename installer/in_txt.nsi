; Installer of the in_txt input plug-in: puts in_txt.dll into the player's Plugins folder and writes an
; uninstaller beside it, with an entry in Add/Remove Programs. Under Wine, which has no speech engine
; of its own, it also offers the speech engine stand-in (txtengine_server.dll, with the eSpeak NG
; voices) as a component, checked by default: copied beside the plug-in and registered in the prefix
; with regsvr32. On Windows that component is not offered.
;
; Build: makensis -DPLUGIN_DLL=<path of in_txt.dll> [-DENGINE_DLL=<path of txtengine_server.dll>]
;                 [-DOUTFILE=<setup.exe>] in_txt.nsi
; Run:   in_txt-setup.exe [/S] [/NOENGINE] [/D=<player folder>]
;        /NOENGINE leaves the speech engine out (under Wine; elsewhere it is never installed).
;        The player folder is the one that holds winamp.exe and Plugins. Without /D= it is taken from the
;        player's own registry entries. A silent run (/S) fails with exit code 2 when that folder holds no
;        player, rather than putting the plug-in where nothing loads it.

Unicode true
SetCompressor /SOLID lzma

!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "FileFunc.nsh"

!ifndef PLUGIN_DLL
  !error "PLUGIN_DLL must name the built in_txt.dll (makensis -DPLUGIN_DLL=...)"
!endif
!ifndef OUTFILE
  !define OUTFILE "in_txt-setup.exe"
!endif

!define PRODUCT_NAME "Tavrin Text Speech plug-in"
!define PRODUCT_VERSION "1.01"
!define DISPLAY_NAME "${PRODUCT_NAME} v${PRODUCT_VERSION} (x86)"
!define PUBLISHER "Tavrin"
!define PLAYER_EXE "winamp.exe"
!define PLAYER_KEY "Software\Winamp"
!define PLAYER_UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Winamp"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\in_txt"
!define UNINSTALLER "uninstall_in_txt.exe"
!define ENGINE_FILE "txtengine_server.dll"

; Exit code of a run that installed or removed nothing: the same code NSIS uses when the user aborts.
!define EXIT_NOTHING_DONE 2

Name "${DISPLAY_NAME}"
OutFile "${OUTFILE}"
; No InstallDir: an empty $INSTDIR in .onInit means no /D= was given, so the registry decides.
RequestExecutionLevel admin
ShowInstDetails show
ShowUninstDetails show
; A DLL that cannot be replaced (the player is running) must stop the install, never be skipped.
AllowSkipFiles off

VIProductVersion "1.0.1.0"
VIAddVersionKey "ProductName" "${PRODUCT_NAME}"
VIAddVersionKey "CompanyName" "${PUBLISHER}"
VIAddVersionKey "FileDescription" "${DISPLAY_NAME} setup"
VIAddVersionKey "FileVersion" "${PRODUCT_VERSION}"
VIAddVersionKey "ProductVersion" "${PRODUCT_VERSION}"
VIAddVersionKey "LegalCopyright" "${PUBLISHER}"

!define MUI_ABORTWARNING
!define MUI_WELCOMEPAGE_TEXT "This will install the ${DISPLAY_NAME} into Winamp.$\r$\n$\r$\nIt lets Winamp play text files (*.TXT) and speech markup files (*.XML) through a SAPI 5 voice.$\r$\n$\r$\nClose Winamp before continuing.$\r$\n$\r$\n$_CLICK"
!insertmacro MUI_PAGE_WELCOME

!ifdef ENGINE_DLL
  ; Only the engine is optional, and only under Wine: elsewhere there is nothing to choose.
  !define MUI_PAGE_CUSTOMFUNCTION_PRE SkipComponentsOutsideWine
  !insertmacro MUI_PAGE_COMPONENTS
!endif

!define MUI_PAGE_HEADER_TEXT "Choose the Winamp Folder"
!define MUI_PAGE_HEADER_SUBTEXT "Choose the Winamp installation to add the plug-in to."
!define MUI_DIRECTORYPAGE_TEXT_TOP "Choose the Winamp folder: the one that holds ${PLAYER_EXE} and the Plugins folder. The plug-in is installed into its Plugins folder."
!define MUI_DIRECTORYPAGE_TEXT_DESTINATION "Winamp folder"
!define MUI_PAGE_CUSTOMFUNCTION_LEAVE ConfirmFolderWithoutPlayer
!insertmacro MUI_PAGE_DIRECTORY

!insertmacro MUI_PAGE_INSTFILES

!define MUI_FINISHPAGE_TEXT "The ${DISPLAY_NAME} has been installed into $INSTDIR\Plugins.$\r$\n$\r$\nStart Winamp and open a text file to hear it."
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "English"

; ---- Finding the player's folder ---------------------------------------------------------------------

; Turns a path read from the registry into a folder: drops surrounding quotes and anything after the
; closing quote (arguments), the file name when the path names an .exe, and a trailing backslash.
; Stack in: path. Stack out: folder (empty for an empty path).
Function FolderOfRegistryPath
  Exch $0
  Push $1
  Push $2
  StrCpy $1 $0 1
  ${If} $1 == '"'
    StrCpy $0 $0 "" 1
    StrCpy $2 0
    ${Do}
      StrCpy $1 $0 1 $2
      ${If} $1 == '"'
      ${OrIf} $1 == ""
        ${ExitDo}
      ${EndIf}
      IntOp $2 $2 + 1
    ${Loop}
    StrCpy $0 $0 $2
  ${EndIf}
  StrCpy $1 $0 "" -4
  ${If} $1 == ".exe"
    ${GetParent} $0 $0
  ${EndIf}
  StrCpy $1 $0 "" -1
  ${If} $1 == "\"
    StrCpy $0 $0 -1
  ${EndIf}
  Pop $2
  Pop $1
  Exch $0
FunctionEnd

; Reads one registry value as a player folder into $R1; empty when the value is missing.
!macro READ_PLAYER_FOLDER root key value
  ReadRegStr $R1 ${root} "${key}" "${value}"
  Push $R1
  Call FolderOfRegistryPath
  Pop $R1
!macroend

; Remembers $R1 in $R0 when $R0 is still empty; stops the search when $R1 holds the player.
!macro CONSIDER_PLAYER_FOLDER
  ${If} $R1 != ""
    ${If} $R0 == ""
      StrCpy $R0 $R1
    ${EndIf}
    ${If} ${FileExists} "$R1\${PLAYER_EXE}"
      StrCpy $R0 $R1
      Goto found
    ${EndIf}
  ${EndIf}
!macroend

; Sets $INSTDIR to the player's folder: the folder the player records for the current user, else the
; folder of its uninstaller, else the usual place. A candidate that holds the player wins over one that
; does not; among those that do not, the first found is kept so the directory page shows it.
Function FindPlayerFolder
  Push $R0
  Push $R1
  StrCpy $R0 ""
  !insertmacro READ_PLAYER_FOLDER HKCU "${PLAYER_KEY}" ""
  !insertmacro CONSIDER_PLAYER_FOLDER
  !insertmacro READ_PLAYER_FOLDER HKLM "${PLAYER_UNINSTALL_KEY}" "UninstallString"
  !insertmacro CONSIDER_PLAYER_FOLDER
  StrCpy $R1 "$PROGRAMFILES\Winamp"
  !insertmacro CONSIDER_PLAYER_FOLDER
found:
  StrCpy $INSTDIR $R0
  Pop $R1
  Pop $R0
FunctionEnd

Function .onInit
  ${If} $INSTDIR == ""
    Call FindPlayerFolder
  ${EndIf}
!ifdef ENGINE_DLL
  Call OfferEngineUnderWine
!endif
  ; The directory page asks in an interactive run; a silent run has nobody to ask.
  ${If} ${Silent}
  ${AndIfNot} ${FileExists} "$INSTDIR\${PLAYER_EXE}"
    SetErrorLevel ${EXIT_NOTHING_DONE}
    Quit
  ${EndIf}
FunctionEnd

Function ConfirmFolderWithoutPlayer
  ${IfNot} ${FileExists} "$INSTDIR\${PLAYER_EXE}"
    MessageBox MB_YESNO|MB_ICONEXCLAMATION|MB_DEFBUTTON2 \
      "$INSTDIR does not hold ${PLAYER_EXE}, so Winamp will not load the plug-in from there.$\r$\n$\r$\nInstall it there anyway?" \
      IDYES keep
    Abort
  keep:
  ${EndIf}
FunctionEnd

; ---- Install -----------------------------------------------------------------------------------------

Section "-Plug-in"
  SetOutPath "$INSTDIR\Plugins"
  SetOverwrite on
  File "/oname=in_txt.dll" "${PLUGIN_DLL}"
  WriteUninstaller "$INSTDIR\Plugins\${UNINSTALLER}"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${DISPLAY_NAME}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${PRODUCT_VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR\Plugins"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Plugins\${UNINSTALLER}"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Plugins\${UNINSTALLER}" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

!ifdef ENGINE_DLL
; ---- The speech engine, under Wine -------------------------------------------------------------------

Section "Speech engine for Wine (eSpeak NG voices)" SEC_ENGINE
  SetOutPath "$INSTDIR\Plugins"
  SetOverwrite on
  File "/oname=${ENGINE_FILE}" "${ENGINE_DLL}"
  ExecWait '"$SYSDIR\regsvr32.exe" /s "$INSTDIR\Plugins\${ENGINE_FILE}"' $0
  ${If} $0 <> 0
    DetailPrint "regsvr32 could not register ${ENGINE_FILE} (exit code $0)."
    MessageBox MB_OK|MB_ICONEXCLAMATION \
      "The speech engine could not be registered (regsvr32 exit code $0). The plug-in is installed; register the engine with:$\r$\n$\r$\nwine regsvr32 $\"$INSTDIR\Plugins\${ENGINE_FILE}$\"" \
      /SD IDOK
    SetErrorLevel 1
  ${EndIf}
SectionEnd

; Whether this runs under Wine: Wine's ntdll exports wine_get_version, Windows' does not. Elsewhere the
; engine is neither chosen nor shown, since it would replace the system's own speech.
Function IsUnderWine
  Push $0
  Push $1
  System::Call 'kernel32::GetModuleHandle(t "ntdll.dll") p .r0'
  System::Call 'kernel32::GetProcAddress(p r0, m "wine_get_version") p .r1'
  ${If} $1 P<> 0
    StrCpy $0 1
  ${Else}
    StrCpy $0 0
  ${EndIf}
  Pop $1
  Exch $0
FunctionEnd

Function OfferEngineUnderWine
  Call IsUnderWine
  Pop $0
  ${GetParameters} $1
  ClearErrors
  ${GetOptions} $1 "/NOENGINE" $2
  ${If} $0 == 0
    SectionSetFlags ${SEC_ENGINE} 0
    SectionSetText ${SEC_ENGINE} ""
  ${ElseIfNot} ${Errors}
    SectionSetFlags ${SEC_ENGINE} 0
  ${EndIf}
FunctionEnd

Function SkipComponentsOutsideWine
  Call IsUnderWine
  Pop $0
  ${If} $0 == 0
    Abort
  ${EndIf}
FunctionEnd
!endif

; ---- Uninstall ---------------------------------------------------------------------------------------
; The uninstaller lives in the Plugins folder, so there $INSTDIR is that folder. plugin.ini and the
; folder itself belong to the player and its other plug-ins and stay.

; Replaces the folder on the stack by its short form, so two spellings of one folder compare equal; a
; folder that does not exist stays as given.
Function un.ComparableFolder
  Exch $0
  Push $1
  ClearErrors
  GetFullPathName /SHORT $1 $0
  ${IfNot} ${Errors}
    StrCpy $0 $1
  ${EndIf}
  Pop $1
  Exch $0
FunctionEnd

; The entry is shared by every folder the plug-in was installed into and points at the latest one;
; an uninstaller removes it only when it points at its own folder.
Function un.RemoveEntryOfThisFolder
  Push $0
  Push $1
  ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $0 != ""
    Push $0
    Call un.ComparableFolder
    Pop $0
    Push $INSTDIR
    Call un.ComparableFolder
    Pop $1
  ${EndIf}
  ${If} $0 == ""
  ${OrIf} $0 == $1
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
  ${Else}
    DetailPrint "The Add/Remove Programs entry belongs to another Winamp folder; it stays."
  ${EndIf}
  Pop $1
  Pop $0
FunctionEnd

Section "Uninstall"
  ClearErrors
  Delete "$INSTDIR\in_txt.dll"
  ${If} ${Errors}
    MessageBox MB_OK|MB_ICONSTOP "$INSTDIR\in_txt.dll is in use. Close Winamp and run the uninstaller again." /SD IDOK
    SetErrorLevel ${EXIT_NOTHING_DONE}
    Abort
  ${EndIf}
  ; The engine, if it was installed here: its classes go back to what they were (Wine's own), then
  ; the file goes (at the next start of Windows if a program still holds it).
  ${If} ${FileExists} "$INSTDIR\${ENGINE_FILE}"
    ExecWait '"$SYSDIR\regsvr32.exe" /s /u "$INSTDIR\${ENGINE_FILE}"' $0
    ${If} $0 <> 0
      DetailPrint "regsvr32 /u ${ENGINE_FILE} ended with exit code $0."
    ${EndIf}
    Delete /REBOOTOK "$INSTDIR\${ENGINE_FILE}"
  ${EndIf}
  Delete "$INSTDIR\${UNINSTALLER}"
  Call un.RemoveEntryOfThisFolder
SectionEnd
