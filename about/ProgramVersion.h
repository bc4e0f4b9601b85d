// The program's own version profile: its version resource, read once at start-up from its own
// file, unchanged afterwards. The about box and the shell verb describe the program from it.
#pragma once

#include "fileinfo/KavexRoutines.h"

// Empty until ReadProgramVersionInfo has run; read-only afterwards.
extern TVersionInfo ProgramVersionInfo;

// The running program's file, as the kernel names it.
[[nodiscard]] QString ProgramFilePath();

// The start-up step: the record emptied and filled by ReadVersionInfo from the running
// program's own file (its result is not looked at: without a version resource the record holds
// the file name and nothing else).
void ReadProgramVersionInfo();
