// What tessera and tessera-report share on the command line: their version text and writing to
// standard output as GNU tools do (a write error is reported and fails the program).
#pragma once

#include <QString>

#include <string>
#include <string_view>

// --version as GNU tools write it: "<program> (<product>) <product version>", the copyright line (both
// from the program's own version resource), the licence and the warranty.
[[nodiscard]] std::string VersionText(const char* program);

// The end of --help: where to report bugs and the home page.
[[nodiscard]] std::string HelpFooter();

// Writes text to standard output; FlushOut sends what is buffered. The first error is kept.
void WriteOut(std::string_view text);
void FlushOut();

// Why a file cannot be read, as the file system says it (missing, a folder, no permission);
// empty when it can be.
[[nodiscard]] std::string UnreadableReason(const QString& fileName);

// Flushes standard output: exitCode when everything reached it, otherwise 1 after
// "<program>: write error: <reason>" on standard error.
[[nodiscard]] int FinishOutput(const char* program, int exitCode);
