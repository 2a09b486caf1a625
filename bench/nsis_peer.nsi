; The self-extracting peer of the benchmark: what a user would pick instead of kelvor-onefile.
; A silent 64-bit NSIS installer that unpacks FILES (when given) and PROGRAM into its plug-in
; folder (a fresh folder in TEMP, removed when it ends), runs PROGRAM there with ExecWait and
; ends with its exit code. Made by bench/lib/programs.sh with makensis -DOUT=... -DPROGRAM=...
; -DPROGRAM_NAME=... [-DFILES=DIR]; LZMA, solid, a 16 MiB dictionary (the launcher's window).
Target amd64-unicode
SilentInstall silent
RequestExecutionLevel user
OutFile "${OUT}"
SetCompressor /SOLID lzma
SetCompressorDictSize 16
Name "peer"
Section
  InitPluginsDir
  SetOutPath "$PLUGINSDIR\app"
!ifdef FILES
  File /r "${FILES}/*"
!endif
  File "${PROGRAM}"
  ExecWait '"$PLUGINSDIR\app\${PROGRAM_NAME}"' $0
  ; The plug-in folder can be removed only when it is not the current directory.
  SetOutPath "$TEMP"
  SetErrorLevel $0
SectionEnd
