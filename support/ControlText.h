// Text that came from a file (names, certificate fields, version strings) may hold control
// characters: a line end that forges another line of the report, an escape sequence that makes a
// terminal overwrite what it showed, a direction override that reorders what is read. Wherever
// such text is shown, its control characters are made visible instead of acting.
#pragma once

#include <QString>

#include <string>
#include <string_view>

// Whether the character acts rather than shows: C0 controls but the tab, DEL, C1 controls, and the
// bidirectional formatting characters.
[[nodiscard]] bool IsActingControl(char32_t c);

// For a terminal: each acting control as a C escape (\n, \r, \e, \x1f, \u202e); bytes that are
// not UTF-8 and would be C1 controls to an 8-bit terminal as \x9b. Everything else unchanged.
[[nodiscard]] std::string TerminalVisible(std::string_view bytes);

// For the window: each acting control as its control picture (U+2400 + the C0 code, U+2421 for
// DEL) or, beyond them, as U+FFFD.
[[nodiscard]] QString WindowVisible(const QString& line);

// A line of tessera-report --check, escaped as sha256sum escapes a name: a backslash, a line feed
// and a carriage return in name or text become \\, \n and \r, and the line then begins with a
// backslash, so that every line stands for exactly one file.
[[nodiscard]] std::string CheckLine(std::string_view name, std::string_view verdict);
