// The desktop's context-menu entries that stand for the shell verbs of all files
// (HKEY_CLASSES_ROOT\*\shell\<verb>, with its "command" subkey): for each verb a KDE service menu
// (Dolphin, MimeType all/allfiles) in <root>/usr/local/share/kio/servicemenus and a Nemo action
// (Extensions nodirs: files, no folders) in <root>/usr/local/share/nemo/actions, named
// "tessera-verb-<verb>". They are made anew from the keys whenever the classes root changes: a
// verb whose key has gone, or has no command, has no entry.
#pragma once

#include <string>

namespace advapi32 {

[[nodiscard]] std::string ServiceMenuFolder();
[[nodiscard]] std::string NemoActionFolder();

// Writes the entries of the verbs now kept and removes those of verbs no longer kept. Places that
// cannot be written are left as they are: the keys are what counts.
void UpdateShellActions();

} // namespace advapi32
