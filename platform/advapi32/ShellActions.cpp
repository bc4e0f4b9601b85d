#include "platform/advapi32/ShellActions.h"

#include "platform/advapi32/RegistryStore.h"
#include "platform/advapi32/SafeFiles.h"
#include "platform/common/WinStr.h"
#include "platform/include/win/winerror.h"
#include "platform/include/win/winreg.h"

#include <cerrno>
#include <cstdio>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <vector>

namespace advapi32 {

namespace {

constexpr char Prefix[] = "tessera-verb-";

struct Verb {
    std::string Caption;
    std::string Icon;
    std::vector<std::string> Command; // arguments; "%1" stands for the clicked file
};

// A REG_SZ value's text, up to its NUL.
std::string Text(const Value* value)
{
    if (!value || (value->Type != REG_SZ && value->Type != REG_EXPAND_SZ))
        return {};
    std::u16string text;
    for (size_t i = 0; i + 1 < value->Data.size(); i += 2) {
        const auto c = static_cast<char16_t>(value->Data[i] | (value->Data[i + 1] << 8));
        if (c == 0)
            break;
        text += c;
    }
    return winstr::ToUtf8(text);
}

// A Windows command line split as programs split theirs: blanks separate, double quotes group,
// backslashes escape a quote.
std::vector<std::string> SplitCommandLine(std::string_view line)
{
    std::vector<std::string> args;
    std::string current;
    bool inArgument = false;
    bool quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '\\') {
            size_t slashes = 0;
            while (i < line.size() && line[i] == '\\') {
                ++slashes;
                ++i;
            }
            if (i < line.size() && line[i] == '"') {
                current.append(slashes / 2, '\\');
                if (slashes % 2) {
                    current += '"';
                } else {
                    quoted = !quoted;
                }
            } else {
                current.append(slashes, '\\');
                --i;
            }
            inArgument = true;
        } else if (c == '"') {
            quoted = !quoted;
            inArgument = true;
        } else if ((c == ' ' || c == '\t') && !quoted) {
            if (inArgument)
                args.push_back(std::move(current));
            current.clear();
            inArgument = false;
        } else {
            current += c;
            inArgument = true;
        }
    }
    if (inArgument)
        args.push_back(std::move(current));
    return args;
}

// The icon a desktop entry names for the program of an "Icon" value ("path",index): the
// program's own, installed under its file's name.
std::string IconName(const std::string& value)
{
    const auto args = SplitCommandLine(value);
    std::string path = args.empty() ? std::string() : args.front();
    if (const size_t comma = path.rfind(','); comma != std::string::npos && comma > path.rfind('/'))
        path.resize(comma);
    const size_t slash = path.rfind('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (const size_t dot = name.rfind('.'); dot != std::string::npos && dot > 0)
        name.resize(dot);
    return name;
}

// A value of a desktop entry: its escapes for backslash and line ends.
std::string EntryValue(const std::string& text)
{
    std::string out;
    for (const char c : text) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default: out += c;
        }
    }
    return out;
}

// The Exec line of a desktop entry: every argument quoted, with the characters special inside
// quotes escaped and '%' doubled; the clicked file as the field code given.
std::string ExecLine(const std::vector<std::string>& command, const char* fileCode)
{
    std::string line;
    for (const std::string& arg : command) {
        if (!line.empty())
            line += ' ';
        if (arg == "%1" || arg == "%L" || arg == "%l") {
            line += fileCode;
            continue;
        }
        line += '"';
        for (const char c : arg) {
            if (c == '"' || c == '`' || c == '$' || c == '\\')
                line += '\\';
            if (c == '%')
                line += '%';
            line += c;
        }
        line += '"';
    }
    return EntryValue(line);
}

std::string SafeFileName(std::u16string_view verb)
{
    static constexpr char Digits[] = "0123456789abcdef";
    std::string out = Prefix;
    for (const unsigned char c : winstr::ToUtf8(verb)) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_') {
            out += static_cast<char>(c);
        } else {
            out += '_';
            out += Digits[c >> 4];
            out += Digits[c & 0xF];
        }
    }
    return out;
}

std::string ServiceMenu(const Verb& verb)
{
    std::string text = "[Desktop Entry]\nType=Service\nName=" + EntryValue(verb.Caption) +
                       "\nMimeType=all/allfiles;\nActions=open;\nX-KDE-ServiceTypes=KonqPopupMenu/Plugin\n"
                       "X-KDE-Priority=TopLevel\n\n[Desktop Action open]\nName=" +
                       EntryValue(verb.Caption) + "\n";
    if (!verb.Icon.empty())
        text += "Icon=" + EntryValue(verb.Icon) + "\n";
    return text + "Exec=" + ExecLine(verb.Command, "%f") + "\n";
}

std::string NemoAction(const Verb& verb)
{
    std::string text = "[Nemo Action]\nActive=true\nName=" + EntryValue(verb.Caption) +
                       "\nComment=" + EntryValue(verb.Caption) + "\n";
    if (!verb.Icon.empty())
        text += "Icon-Name=" + EntryValue(verb.Icon) + "\n";
    // "nodirs": every file, and no folder, as the verb of "*" has it ("any" takes folders too).
    return text + "Exec=" + ExecLine(verb.Command, "%F") + "\nSelection=s\nExtensions=nodirs;\n";
}

// The folder a file manager reads its entries from, below the system's share folder; null (and
// the reason said on standard error once) when it is in other hands.
std::optional<TrustedFolder> EntryFolder(const std::vector<std::string>& below, bool create)
{
    Failure failure;
    std::optional<TrustedFolder> folder = TrustedFolder::Open(SystemRoot() + "/usr/local/share", below, create, failure);
    if (!folder && failure.Untrusted) {
        static std::mutex lock;
        static std::set<std::string> said;
        const std::lock_guard guard(lock);
        if (said.insert(failure.Problem).second)
            std::fprintf(stderr, "%s: the context-menu entry is not written: %s\n", program_invocation_short_name,
                         failure.Problem.c_str());
    }
    return folder;
}

} // namespace

std::string ServiceMenuFolder()
{
    return SystemRoot() + "/usr/local/share/kio/servicemenus";
}

std::string NemoActionFolder()
{
    return SystemRoot() + "/usr/local/share/nemo/actions";
}

void UpdateShellActions()
{
    struct Published {
        std::vector<std::string> Folder; // below the share folder
        const char* Extension;
        std::string (*Text)(const Verb&);
        std::map<std::string, std::string> Files; // name -> content
    };
    Published published[] = {{{"kio", "servicemenus"}, ".desktop", ServiceMenu, {}},
                             {{"nemo", "actions"}, ".nemo_action", NemoAction, {}}};
    std::string shell;
    std::vector<std::u16string> verbs;
    if (RegistryStore::Resolve(RegistryStore::ClassesRoot(), u"*\\shell", false, shell) == ERROR_SUCCESS)
        (void)RegistryStore::SubkeyNames(shell, verbs);
    for (const std::u16string& name : verbs) {
        std::string key;
        std::string command;
        Values values;
        Values commandValues;
        if (RegistryStore::Resolve(shell, name, false, key) != ERROR_SUCCESS ||
            RegistryStore::Resolve(key, u"command", false, command) != ERROR_SUCCESS ||
            RegistryStore::ReadValues(key, values) != ERROR_SUCCESS ||
            RegistryStore::ReadValues(command, commandValues) != ERROR_SUCCESS)
            continue;
        Verb verb;
        verb.Caption = Text(values.Find(u""));
        verb.Icon = IconName(Text(values.Find(u"Icon")));
        verb.Command = SplitCommandLine(Text(commandValues.Find(u"")));
        if (verb.Command.empty())
            continue;
        if (verb.Caption.empty())
            verb.Caption = winstr::ToUtf8(name);
        for (Published& target : published)
            target.Files[SafeFileName(name) + target.Extension] = target.Text(verb);
    }
    for (const Published& target : published) {
        const std::optional<TrustedFolder> folder = EntryFolder(target.Folder, !target.Files.empty());
        if (!folder)
            continue;
        int error = 0;
        for (const auto& [file, text] : target.Files)
            (void)folder->Write(file, text, error);
        // What an earlier registration wrote and the registry no longer has.
        for (const std::string& file : folder->Names())
            if (file.starts_with(Prefix) && file.ends_with(target.Extension) && !target.Files.contains(file))
                (void)folder->Remove(file, false, error);
    }
}

} // namespace advapi32
