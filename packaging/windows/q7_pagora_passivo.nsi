; The service's installer, built by make-installer from the deployed folder.
; Per user and without elevation, into a folder the operator's account may write: the service
; creates and renames config_tef.json beside its executable. The uninstaller removes what was
; installed and keeps config_tef.json, the journal pendentes.json and the logs, unless asked
; (the question, or /PURGE when silent).
; 64-bit like the service it installs (and Wine here runs 64-bit programs only).
Target amd64-unicode
!include FileFunc.nsh
!include LogicLib.nsh
!include WinMessages.nsh

!define APP "q7_pagora_passivo"
!define TITLE "Orvix Pagora"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${APP}"
!define STOP_WINDOW "Q7PagoraPassivoStop"

Name "${TITLE}"
OutFile "${OUTFILE}"
RequestExecutionLevel user
InstallDir "$LOCALAPPDATA\Programs\${APP}"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
SetCompressor /SOLID lzma
Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

; A running service is asked to stop as taskkill would ask it, and given the time a running
; operation may take (two minutes and a little more) before its files are replaced or removed.
!macro StopService un
Function ${un}StopService
    FindWindow $0 "${STOP_WINDOW}"
    ${If} $0 != 0
        SendMessage $0 ${WM_CLOSE} 0 0
        StrCpy $1 0
        ${DoWhile} $1 < 1300
            Sleep 100
            FindWindow $0 "${STOP_WINDOW}"
            ${IfThen} $0 == 0 ${|} ${ExitDo} ${|}
            IntOp $1 $1 + 1
        ${Loop}
        ; The process may still be unloading after its window is gone.
        Sleep 1000
    ${EndIf}
FunctionEnd
!macroend
!insertmacro StopService ""
!insertmacro StopService "un."

Section "Install"
    Call StopService
    SetOutPath "$INSTDIR"
    !include "${FILES}.install.nsh"
    WriteUninstaller "$INSTDIR\uninstall.exe"
    ; Started in the installed folder: a relative log file (q7_log.txt) lands there too.
    CreateShortCut "$SMPROGRAMS\${TITLE}.lnk" "$INSTDIR\${APP}.exe"
    CreateShortCut "$SMSTARTUP\${TITLE}.lnk" "$INSTDIR\${APP}.exe"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${TITLE}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
    Call un.StopService
    Delete "$SMPROGRAMS\${TITLE}.lnk"
    Delete "$SMSTARTUP\${TITLE}.lnk"
    !include "${FILES}.uninstall.nsh"
    ${GetParameters} $0
    ClearErrors
    ${GetOptions} $0 "/PURGE" $1
    ${If} ${Errors}
        MessageBox MB_YESNO|MB_DEFBUTTON2 "Remover também a configuração, as transações pendentes e os registros?" /SD IDNO IDNO keep
    ${EndIf}
    Delete "$INSTDIR\config_tef.json"
    Delete "$INSTDIR\config_tefOLD.json"
    Delete "$INSTDIR\pendentes.json"
    Delete "$INSTDIR\pendentes.json.invalido"
    Delete "$INSTDIR\q7_log.txt"
    keep:
    Delete "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR"
    DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
