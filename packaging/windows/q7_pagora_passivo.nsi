; The service's installer, built by make-installer from the deployed folder.
; Per user and without elevation, into a folder the operator's account may write: the service
; creates and renames config_tef.json beside its executable. The uninstaller removes what was
; installed and keeps config_tef.json, the journals pendentes.json and pendente_orvix.json and
; the logs, unless asked (the question, or /PURGE when silent); it says how many pending
; transactions that removes.
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
; Open, so that the operator sees what a purge removed.
ShowUninstDetails show

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

; CountPending JOURNAL: how many transactions the journal holds, in $R0; -1 when it is there
; but cannot be opened. Counted by their "sequencial" key, one per transaction, since the
; service cannot be asked (its files are gone by then, and a broken one is what gets
; uninstalled): a quote inside a value is escaped, so the key and its colon appear nowhere
; else. Read in pieces shorter than NSIS's strings, each after the last 12 characters of the
; one before, so that no key is cut in two.
Function un.CountPending
    Exch $0
    Push $1
    Push $2
    Push $3
    StrCpy $R0 0
    ${If} ${FileExists} $0
        ClearErrors
        FileOpen $1 $0 r
        ${If} ${Errors}
            StrCpy $R0 -1
        ${Else}
            StrCpy $2 ""
            ${Do}
                ClearErrors
                FileRead $1 $3 900
                ${IfThen} ${Errors} ${|} ${ExitDo} ${|}
                StrCpy $2 "$2$3"
                StrCpy $3 0
                ${Do}
                    StrCpy $0 $2 13 $3
                    ${IfThen} $0 == "" ${|} ${ExitDo} ${|}
                    ${IfThen} $0 == '"sequencial":' ${|} IntOp $R0 $R0 + 1 ${|}
                    IntOp $3 $3 + 1
                ${Loop}
                StrCpy $2 $2 "" -12
            ${Loop}
            FileClose $1
        ${EndIf}
    ${EndIf}
    Pop $3
    Pop $2
    Pop $1
    Pop $0
FunctionEnd

; TellPending JOURNAL: the line for the details of a purge, when the journal holds transactions;
; what matters first, since the list cuts long lines.
Function un.TellPending
    Exch $0
    Push $0
    Call un.CountPending
    ${If} $R0 == -1
        DetailPrint "Diário ilegível, removido sem contar suas transações pendentes (não poderão mais ser confirmadas nem desfeitas): $0"
    ${ElseIf} $R0 == 1
        DetailPrint "Removendo 1 transação pendente, que não poderá mais ser confirmada nem desfeita: $0"
    ${ElseIf} $R0 > 1
        DetailPrint "Removendo $R0 transações pendentes, que não poderão mais ser confirmadas nem desfeitas: $0"
    ${EndIf}
    Pop $0
FunctionEnd

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
        ; The question tells what a "Sim" takes: the transactions still to be confirmed or undone.
        StrCpy $2 0
        Push "$INSTDIR\pendentes.json"
        Call un.CountPending
        ${IfThen} $R0 > 0 ${|} IntOp $2 $2 + $R0 ${|}
        Push "$INSTDIR\pendente_orvix.json"
        Call un.CountPending
        ${IfThen} $R0 > 0 ${|} IntOp $2 $2 + $R0 ${|}
        ${If} $2 == 1
            StrCpy $2 "a configuração, os registros e 1 transação pendente (não poderá mais ser confirmada nem desfeita)"
        ${ElseIf} $2 > 1
            StrCpy $2 "a configuração, os registros e $2 transações pendentes (não poderão mais ser confirmadas nem desfeitas)"
        ${Else}
            StrCpy $2 "a configuração, as transações pendentes e os registros"
        ${EndIf}
        MessageBox MB_YESNO|MB_DEFBUTTON2 "Remover também $2?" /SD IDNO IDNO keep
    ${EndIf}
    Push "$INSTDIR\pendentes.json"
    Call un.TellPending
    Push "$INSTDIR\pendente_orvix.json"
    Call un.TellPending
    Delete "$INSTDIR\config_tef.json"
    Delete "$INSTDIR\config_tefOLD.json"
    Delete "$INSTDIR\pendentes.json"
    Delete "$INSTDIR\pendentes.json.invalido"
    Delete "$INSTDIR\pendente_orvix.json"
    Delete "$INSTDIR\pendente_orvix.json.invalido"
    Delete "$INSTDIR\q7_log.txt"
    keep:
    Delete "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR"
    DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
