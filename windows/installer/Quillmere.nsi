; The Windows installer of the plug-in: the VST3 bundle into the common VST3 folder, the VST2
; module into a folder the user picks, and an uninstaller that Windows lists with the
; installed programs. 64-bit throughout: the installer runs as a 64-bit program, so the
; registry view, Program Files and Common Files are the 64-bit ones.
;
; The product's name, maker, version and the files to pack come from the build
; (QuillmereInstaller.nsh, which CMake writes from the project's one version setting); this
; script holds none of them.
;
; Command line, for deployment:
;   /S               silent: no window, the defaults or the options below
;   /NOVST3          leave the VST3 plug-in out
;   /NOVST2          leave the VST2 plug-in out
;   /D=<folder>      the VST2 folder (last on the line, unquoted, as for every NSIS installer)
; The uninstaller takes /S. Exit code 0 on success, 2 when the installer refuses or fails
; (a newer version installed, both formats left out, a file that cannot be written).

!include "QuillmereInstaller.nsh"

Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin
ManifestDPIAware true

!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "Sections.nsh"
!include "FileFunc.nsh"
!include "WordFunc.nsh"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT_NAME}"
!define PRODUCT_FOLDER "$PROGRAMFILES64\${COMPANY_NAME}\${PRODUCT_NAME}"
!define UNINSTALLER "Uninstall ${PRODUCT_NAME}.exe"
!define VST3_BUNDLE "$COMMONFILES64\VST3\${PRODUCT_NAME}.vst3"
!define VST3_BINARY_FOLDER "Contents\x86_64-win"

Name "${PRODUCT_NAME} ${VERSION}"
OutFile "${OUTPUT_FILE}"
BrandingText "${COMPANY_NAME} ${PRODUCT_NAME} ${VERSION}"

; The VST2 folder: the one of the installation this one replaces, else the usual one. /D=
; on the command line wins over both.
InstallDir "$PROGRAMFILES64\VSTPlugins"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "Vst2Folder"

VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT_NAME}"
VIAddVersionKey /LANG=1033 "CompanyName" "${COMPANY_NAME}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT_NAME} ${VERSION} Setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "${COMPANY_NAME}, under the GNU General Public License v3"

!define MUI_ICON "${ICON_FILE}"
!define MUI_UNICON "${ICON_FILE}"
!define MUI_ABORTWARNING
!define MUI_COMPONENTSPAGE_SMALLDESC

!insertmacro MUI_PAGE_LICENSE "${LICENCE_FILE}"
!define MUI_PAGE_CUSTOMFUNCTION_LEAVE ComponentsLeave
!insertmacro MUI_PAGE_COMPONENTS
!define MUI_PAGE_CUSTOMFUNCTION_PRE DirectoryPre
!define MUI_DIRECTORYPAGE_TEXT_TOP "The VST2 plug-in, ${PRODUCT_NAME}.dll, goes into the folder your VST2 host scans for plug-ins. The VST3 plug-in always goes into the common VST3 folder, where every VST3 host looks."
!define MUI_DIRECTORYPAGE_TEXT_DESTINATION "VST2 plug-in folder"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "English"

Var installedVersion

;--------------------------------------------------------------------------------------------
; Folders: what the installation creates is recorded, as the deepest folder that existed
; before it, so that removal takes away exactly the folders it made, once they are empty.

; Leaves on the stack the deepest folder of a path that exists, or "" if none does.
!macro DEEPEST_EXISTING_FOLDER un
Function ${un}DeepestExistingFolder
    Exch $0
    Push $1
    ${Do}
        ${If} $0 == ""
        ${OrIf} ${FileExists} "$0\*.*"
            ${Break}
        ${EndIf}
        StrCpy $1 $0
        ${GetParent} $1 $0
    ${Loop}
    Pop $1
    Exch $0
FunctionEnd
!macroend

; Removes a folder and then its parents while they are empty, up to (not including) the
; folder given second. Usage: Push folder, Push stop, Call.
!macro REMOVE_EMPTY_FOLDERS un
Function ${un}RemoveEmptyFolders
    Exch $1 ; where to stop
    Exch
    Exch $0 ; the folder
    Push $2
    ${DoWhile} $0 != ""
        ${If} $0 == $1
            ${Break}
        ${EndIf}
        RMDir $0
        ${If} ${FileExists} "$0\*.*"
            ${Break}
        ${EndIf}
        StrCpy $2 $0
        ${GetParent} $2 $0
    ${Loop}
    Pop $2
    Pop $0
    Pop $1
FunctionEnd
!macroend

; Removes what the recorded installation installed, file by file, and the folders it made.
; The record lies in the uninstall key: the VST3 bundle, the VST2 module, the product folder,
; each with the deepest folder that existed before it (the "...Base" values).
!macro REMOVE_RECORDED un
Function ${un}RemoveRecorded
    Push $0
    Push $1

    ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "Vst3Bundle"
    ${If} $0 != ""
        Delete "$0\${VST3_BINARY_FOLDER}\${PRODUCT_NAME}.vst3"
        ReadRegStr $1 HKLM "${UNINSTALL_KEY}" "Vst3Base"
        Push "$0\${VST3_BINARY_FOLDER}"
        Push $1
        Call ${un}RemoveEmptyFolders
    ${EndIf}

    ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "Vst2Module"
    ${If} $0 != ""
        Delete $0
        ReadRegStr $1 HKLM "${UNINSTALL_KEY}" "Vst2Base"
        ${GetParent} $0 $0
        Push $0
        Push $1
        Call ${un}RemoveEmptyFolders
    ${EndIf}

    ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
    ${If} $0 != ""
        Delete "$0\${UNINSTALLER}"
        Delete "$0\LICENSE.txt"
        ReadRegStr $1 HKLM "${UNINSTALL_KEY}" "InstallLocationBase"
        Push $0
        Push $1
        Call ${un}RemoveEmptyFolders
    ${EndIf}

    Pop $1
    Pop $0
FunctionEnd
!macroend

!insertmacro DEEPEST_EXISTING_FOLDER ""
!insertmacro DEEPEST_EXISTING_FOLDER "un."
!insertmacro REMOVE_EMPTY_FOLDERS ""
!insertmacro REMOVE_EMPTY_FOLDERS "un."
!insertmacro REMOVE_RECORDED ""
!insertmacro REMOVE_RECORDED "un."

;--------------------------------------------------------------------------------------------
; Installation
;
; The sections run in this order: the installation this one replaces goes; the uninstaller and
; the entry Windows lists go in, so that whatever follows can be uninstalled even if the
; installation stops half-way; then the plug-ins, each recorded before it is written; then
; the size. A plug-in that cannot be written (a host has it loaded) stops the installation
; with exit code 2, rather than leaving the old file in place under the new version.

Var previousVst3Bundle
Var previousVst3Base
Var previousVst2Folder
Var previousVst2Base
Var previousProductFolder
Var previousProductBase

; The folder to record as the deepest one that existed before a path was installed: the one
; the replaced installation recorded for the same path (its folders may still be there, if a
; file could not be removed), else the deepest folder existing now. Takes the path, the
; replaced installation's path and folder in the "base..." variables; sets baseResult.
Var basePath
Var basePreviousPath
Var basePreviousBase
Var baseResult

Function RecordedBase
    ${If} $basePreviousPath != ""
    ${AndIf} $basePreviousBase != ""
    ${AndIf} $basePath == $basePreviousPath
        StrCpy $baseResult $basePreviousBase
    ${Else}
        Push $basePath
        Call DeepestExistingFolder
        Pop $baseResult
    ${EndIf}
FunctionEnd

!macro RECORDED_BASE path previousPath previousBase
    StrCpy $basePath "${path}"
    StrCpy $basePreviousPath "${previousPath}"
    StrCpy $basePreviousBase "${previousBase}"
    Call RecordedBase
!macroend

; Stops the installation when the file just written could not be: the error flag is set when
; the file's error box was answered with Ignore, or skipped in silent mode.
!macro STOP_UNLESS_WRITTEN file
    ${If} ${Errors}
        MessageBox MB_ICONSTOP|MB_OK "${file} cannot be written. Close every program that has ${PRODUCT_NAME} loaded, then run the installer again." /SD IDOK
        SetErrorLevel 2
        Abort
    ${EndIf}
!macroend

; Before anything is written: the installation this one replaces (an older or the same
; version) goes, exactly as its uninstaller would remove it, so that nothing of it stays
; behind in a folder this one does not use.
Section "-Previous installation"
    SetRegView 64
    ${If} $installedVersion != ""
        DetailPrint "Replacing ${PRODUCT_NAME} $installedVersion"
        ReadRegStr $previousVst3Bundle HKLM "${UNINSTALL_KEY}" "Vst3Bundle"
        ReadRegStr $previousVst3Base HKLM "${UNINSTALL_KEY}" "Vst3Base"
        ReadRegStr $previousVst2Folder HKLM "${UNINSTALL_KEY}" "Vst2Folder"
        ReadRegStr $previousVst2Base HKLM "${UNINSTALL_KEY}" "Vst2Base"
        ReadRegStr $previousProductFolder HKLM "${UNINSTALL_KEY}" "InstallLocation"
        ReadRegStr $previousProductBase HKLM "${UNINSTALL_KEY}" "InstallLocationBase"
        Call RemoveRecorded
        DeleteRegKey HKLM "${UNINSTALL_KEY}"
    ${EndIf}
SectionEnd

; The uninstaller, the licence and the entry Windows lists the installed programs with.
Section "-Uninstaller"
    !insertmacro RECORDED_BASE "${PRODUCT_FOLDER}" "$previousProductFolder" "$previousProductBase"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "${PRODUCT_FOLDER}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocationBase" $baseResult

    SetOutPath "${PRODUCT_FOLDER}"
    ClearErrors
    File "/oname=LICENSE.txt" "${LICENCE_FILE}"
    WriteUninstaller "${PRODUCT_FOLDER}\${UNINSTALLER}"
    !insertmacro STOP_UNLESS_WRITTEN "${PRODUCT_FOLDER}\${UNINSTALLER}"

    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT_NAME}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${COMPANY_NAME}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "URLInfoAbout" "${COMPANY_WEBSITE}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" '"${PRODUCT_FOLDER}\${UNINSTALLER}",0'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"${PRODUCT_FOLDER}\${UNINSTALLER}"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"${PRODUCT_FOLDER}\${UNINSTALLER}" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "VersionMajor" ${VERSION_MAJOR}
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "VersionMinor" ${VERSION_MINOR}
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "VST3 plug-in" SecVst3
    !insertmacro RECORDED_BASE "${VST3_BUNDLE}" "$previousVst3Bundle" "$previousVst3Base"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Vst3Bundle" "${VST3_BUNDLE}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Vst3Base" $baseResult

    ClearErrors
    SetOutPath "${VST3_BUNDLE}\${VST3_BINARY_FOLDER}"
    File "/oname=${PRODUCT_NAME}.vst3" "${VST3_BUNDLE_BINARY}"
    !insertmacro STOP_UNLESS_WRITTEN "${VST3_BUNDLE}\${VST3_BINARY_FOLDER}\${PRODUCT_NAME}.vst3"
SectionEnd

Section "VST2 plug-in" SecVst2
    !insertmacro RECORDED_BASE "$INSTDIR" "$previousVst2Folder" "$previousVst2Base"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Vst2Module" "$INSTDIR\${PRODUCT_NAME}.dll"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Vst2Base" $baseResult
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Vst2Folder" $INSTDIR

    ClearErrors
    SetOutPath $INSTDIR
    File "/oname=${PRODUCT_NAME}.dll" "${MODULE_FILE}"
    !insertmacro STOP_UNLESS_WRITTEN "$INSTDIR\${PRODUCT_NAME}.dll"
SectionEnd

; The size Windows shows, in KiB: the installed files as they lie on the disk.
Section "-Size"
    StrCpy $1 0
    ${GetSize} "${PRODUCT_FOLDER}" "/S=0K /G=0" $0 $2 $3
    IntOp $1 $1 + $0
    ${If} ${SectionIsSelected} ${SecVst3}
        ${GetSize} "${VST3_BUNDLE}" "/S=0K" $0 $2 $3
        IntOp $1 $1 + $0
    ${EndIf}
    ${If} ${SectionIsSelected} ${SecVst2}
        ${GetSize} "$INSTDIR" "/M=${PRODUCT_NAME}.dll /S=0K /G=0" $0 $2 $3
        IntOp $1 $1 + $0
    ${EndIf}
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $1
SectionEnd

!insertmacro MUI_FUNCTION_DESCRIPTION_BEGIN
    !insertmacro MUI_DESCRIPTION_TEXT ${SecVst3} "${PRODUCT_NAME}.vst3 in the common VST3 folder, for VST3 hosts."
    !insertmacro MUI_DESCRIPTION_TEXT ${SecVst2} "${PRODUCT_NAME}.dll in a folder of your choice, for VST2 hosts."
!insertmacro MUI_FUNCTION_DESCRIPTION_END

; Refuses to install over a newer version; takes the formats to leave out from the command line.
Function .onInit
    SetRegView 64
    ReadRegStr $installedVersion HKLM "${UNINSTALL_KEY}" "DisplayVersion"

    ${If} $installedVersion != ""
        ${VersionCompare} $installedVersion "${VERSION}" $0
        ${If} $0 == 1
            MessageBox MB_ICONSTOP|MB_OK "${PRODUCT_NAME} $installedVersion is installed, which is newer than ${VERSION}. Uninstall it first to install this version." /SD IDOK
            SetErrorLevel 2
            Quit
        ${EndIf}
    ${EndIf}

    ${GetParameters} $0
    ClearErrors
    ${GetOptions} $0 "/NOVST3" $1
    ${IfNot} ${Errors}
        !insertmacro UnselectSection ${SecVst3}
    ${EndIf}
    ClearErrors
    ${GetOptions} $0 "/NOVST2" $1
    ${IfNot} ${Errors}
        !insertmacro UnselectSection ${SecVst2}
    ${EndIf}

    ${If} ${Silent}
    ${AndIfNot} ${SectionIsSelected} ${SecVst3}
    ${AndIfNot} ${SectionIsSelected} ${SecVst2}
        SetErrorLevel 2
        Quit
    ${EndIf}
FunctionEnd

Function ComponentsLeave
    ${IfNot} ${SectionIsSelected} ${SecVst3}
    ${AndIfNot} ${SectionIsSelected} ${SecVst2}
        MessageBox MB_ICONEXCLAMATION|MB_OK "Choose at least one of the two plug-in formats."
        Abort
    ${EndIf}
FunctionEnd

; The VST2 folder is asked for only when the VST2 plug-in is installed.
Function DirectoryPre
    ${IfNot} ${SectionIsSelected} ${SecVst2}
        Abort
    ${EndIf}
FunctionEnd

;--------------------------------------------------------------------------------------------
; Uninstallation

Function un.onInit
    SetRegView 64
FunctionEnd

Section "Uninstall"
    Call un.RemoveRecorded
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
