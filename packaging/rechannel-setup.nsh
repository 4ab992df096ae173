; The rechannel installer's functions that the installer and the uninstaller
; both call, included by NSIS.template.in: the log and the finish page's
; notes, the user's PATH read and written whole through the registry
; functions (never held in an NSIS string, which holds 1,023 characters),
; and the running programs of a folder. They use the variables the script
; declares ($Notes, $Folder, $PathBuf, $PathState, $PathType, $Wrapped,
; $Found) and $0-$9 as scratch.
; Room beyond the PATH read: ";" and one folder (an NSIS string), and the
; two ";" that Wrapped adds, with terminators.
!define PATH_ROOM_BYTES 4096

; The functions both the installer and the uninstaller call (NSIS wants
; the uninstaller's own copies, named un.*).
!macro SHARED_FUNCTIONS UN
!if "${UN}" == ""
  !define /redef AGAIN "установку"
!else
  !define /redef AGAIN "удаление"
!endif

; Appends the line on the stack to the log (and the details list).
Function ${UN}Log
  Exch $0
  Push $1
  DetailPrint "$0"
  ClearErrors
  FileOpen $1 "${LOG_FILE}" a
  ${IfNot} ${Errors}
    FileSeek $1 0 END
    FileWriteUTF16LE /BOM $1 "$0$\r$\n"
    FileClose $1
  ${EndIf}
  Pop $1
  Pop $0
FunctionEnd

; The same, and on the finish page.
Function ${UN}Note
  Exch $0
  StrCpy $Notes "$Notes$0$\r$\n"
  Push $0
  Call ${UN}Log
  Pop $0
FunctionEnd

; Tells the open programs that the environment changed. A hung window is
; skipped at once (SMTO_ABORTIFHUNG) and every other gets 1 s at most, so
; no window can hold the installer.
Function ${UN}Broadcast
  System::Call 'user32::SendMessageTimeoutW(p 0xffff, i ${WM_SETTINGCHANGE}, p 0, w "Environment", i 2, i 1000, *p .r0) p .r1'
FunctionEnd

; Reads the user's PATH whole into $PathBuf, with room to add a folder.
Function ${UN}PathRead
  StrCpy $PathBuf 0
  StrCpy $PathType 2
  StrCpy $PathState unreadable
  System::Call 'advapi32::RegOpenKeyExW(p ${HKEY_CURRENT_USER}, w "Environment", i 0, i 1, *p .r0) i .r1'
  ${If} $1 = 2
    StrCpy $PathState none
    Return
  ${ElseIf} $1 <> 0
    Return
  ${EndIf}
  ; Its size first, then the value into a buffer that size and more.
  System::Call 'advapi32::RegQueryValueExW(p r0, w "Path", p 0, *i .r2, p 0, *i .r3) i .r1'
  ${If} $1 = 2
    StrCpy $PathState none
  ${ElseIf} $1 = 0
  ${AndIf} $2 >= 1
  ${AndIf} $2 <= 2
    StrCpy $PathType $2
    IntOp $4 $3 + ${PATH_ROOM_BYTES}
    System::Alloc $4
    Pop $PathBuf
    System::Call 'advapi32::RegQueryValueExW(p r0, w "Path", p 0, *i .r2, p $PathBuf, *i r3 .r3) i .r1'
    ${If} $1 = 0
    ${AndIf} $2 = $PathType
      ; The registry does not promise a terminator.
      IntPtrOp $4 $PathBuf + $3
      System::Call '*$4(&i2 0)'
      StrCpy $PathState ok
    ${Else}
      ; Changed between the two reads: not read whole.
      System::Free $PathBuf
      StrCpy $PathBuf 0
    ${EndIf}
  ${EndIf}
  System::Call 'advapi32::RegCloseKey(p r0)'
FunctionEnd

Function ${UN}PathFree
  ${If} $PathBuf P<> 0
    System::Free $PathBuf
  ${EndIf}
  StrCpy $PathBuf 0
FunctionEnd

; $Wrapped: ";" $PathBuf ";", so that every entry is found between two ";".
Function ${UN}PathWrap
  System::Call 'kernel32::lstrlenW(p $PathBuf) i .r0'
  IntOp $0 $0 + 4
  IntOp $0 $0 * 2
  System::Alloc $0
  Pop $Wrapped
  System::Call 'kernel32::lstrcpyW(p $Wrapped, w ";")'
  System::Call 'kernel32::lstrcatW(p $Wrapped, p $PathBuf)'
  System::Call 'kernel32::lstrcatW(p $Wrapped, w ";")'
FunctionEnd

; $0: 1 when the PATH read holds $Folder (also written with a final "\")
; as one of its entries, whatever the case of its letters, else 0.
Function ${UN}PathHolds
  StrCpy $0 0
  ${If} $PathState != ok
    Return
  ${EndIf}
  Call ${UN}PathWrap
  System::Call 'shlwapi::StrStrIW(p $Wrapped, w ";$Folder;") p .r1'
  System::Call 'shlwapi::StrStrIW(p $Wrapped, w ";$Folder\;") p .r2'
  ${If} $1 P<> 0
  ${OrIf} $2 P<> 0
    StrCpy $0 1
  ${EndIf}
  System::Free $Wrapped
FunctionEnd

; Writes $PathBuf back as the user's PATH, of the type it had, and tells
; the open programs. $0: 1 when written.
Function ${UN}PathWrite
  StrCpy $0 0
  System::Call 'advapi32::RegCreateKeyExW(p ${HKEY_CURRENT_USER}, w "Environment", i 0, p 0, i 0, i 2, p 0, *p .r1, p 0) i .r2'
  ${If} $2 <> 0
    Return
  ${EndIf}
  System::Call 'kernel32::lstrlenW(p $PathBuf) i .r3'
  IntOp $3 $3 + 1
  IntOp $3 $3 * 2
  System::Call 'advapi32::RegSetValueExW(p r1, w "Path", i 0, i $PathType, p $PathBuf, i r3) i .r2'
  System::Call 'advapi32::RegCloseKey(p r1)'
  ${If} $2 = 0
    StrCpy $0 1
    Call ${UN}Broadcast
  ${EndIf}
FunctionEnd

; Cuts every entry the pattern on the stack (";folder;" with its leading
; ";" taken out) finds from $Wrapped; adds their count to $9.
Function ${UN}PathCut
  Exch $5
  StrLen $6 $5
  IntOp $6 $6 - 1
  IntOp $6 $6 * 2
  ${Do}
    System::Call 'shlwapi::StrStrIW(p $Wrapped, w r5) p .r2'
    ${If} $2 P= 0
      ${Break}
    ${EndIf}
    ; The entry and the ";" before it go; the text after it moves up.
    IntPtrOp $3 $2 + $6
    System::Call 'kernel32::lstrlenW(p r3) i .r4'
    IntOp $4 $4 + 1
    IntOp $4 $4 * 2
    System::Call 'kernel32::RtlMoveMemory(p r2, p r3, p r4)'
    IntOp $9 $9 + 1
  ${Loop}
  Pop $5
FunctionEnd

; Takes $Folder out of the user's PATH (every entry that is that folder,
; nothing else); a PATH that cannot be read whole is left as it is.
Function ${UN}PathRemove
  Call ${UN}PathRead
  ${If} $PathState == unreadable
    Push "PATH пользователя не удалось прочитать целиком, он оставлен как есть: уберите из него $Folder сами."
    Call ${UN}Note
    Return
  ${ElseIf} $PathState == none
    Return
  ${EndIf}
  Call ${UN}PathWrap
  StrCpy $9 0
  Push ";$Folder;"
  Call ${UN}PathCut
  Push ";$Folder\;"
  Call ${UN}PathCut
  ${If} $9 > 0
    ; The ";" Wrapped added at either end go again.
    System::Call 'kernel32::lstrlenW(p $Wrapped) i .r0'
    IntOp $0 $0 - 1
    IntOp $0 $0 * 2
    IntPtrOp $1 $Wrapped + $0
    System::Call '*$1(&i2 0)'
    IntPtrOp $1 $Wrapped + 2
    System::Call 'kernel32::lstrcpyW(p $PathBuf, p r1)'
    System::Call 'kernel32::lstrlenW(p $PathBuf) i .r0'
    ${If} $0 = 0
      DeleteRegValue HKCU "Environment" "Path"
      Call ${UN}Broadcast
    ${Else}
      Call ${UN}PathWrite
    ${EndIf}
    Push "Папка $Folder убрана из PATH пользователя."
    Call ${UN}Log
  ${EndIf}
  System::Free $Wrapped
  Call ${UN}PathFree
FunctionEnd

; $Found: the rechannel programs running from $Folder\bin (" name.exe"
; each). A running program's file cannot be opened for writing (the system
; holds it shared for reading only), whichever path or account started it.
Function ${UN}FindRunning
  StrCpy $Found ""
  ClearErrors
  FindFirst $0 $1 "$Folder\bin\${PRODUCT}*.exe"
  ${DoWhile} $1 != ""
    ; GENERIC_WRITE, no sharing, OPEN_EXISTING
    System::Call 'kernel32::CreateFileW(w "$Folder\bin\$1", i 0x40000000, i 0, p 0, i 3, i 0, p 0) p .r2 ?e'
    Pop $3
    ${If} $2 P<> -1
      System::Call 'kernel32::CloseHandle(p r2)'
    ${ElseIf} $3 = 32
      ; ERROR_SHARING_VIOLATION
      StrCpy $Found "$Found $1"
    ${EndIf}
    FindNext $0 $1
  ${Loop}
  FindClose $0
FunctionEnd

; Returns once no rechannel program runs from $Folder\bin: the user is
; asked to close them; a silent run, or a user who cancels, ends here with
; REFUSED_STATUS, no file touched.
Function ${UN}RefuseWhileRunning
  ${Do}
    Call ${UN}FindRunning
    ${If} $Found == ""
      Return
    ${EndIf}
    ${IfNot} ${Silent}
      MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "Из папки $Folder запущены программы rechannel:$Found.$\r$\nЗакройте их и нажмите «Повтор»." IDRETRY again
    ${EndIf}
    Push "Из папки $Folder запущены программы rechannel:$Found. Закройте их и запустите ${AGAIN} снова; файлы не изменены."
    Call ${UN}Log
    SetErrorLevel ${REFUSED_STATUS}
    Quit
  again:
  ${Loop}
FunctionEnd

!macroend
