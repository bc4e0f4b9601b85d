// The classes root kept in files under a temporary system root, and the context-menu entries of
// the file managers that its shell verbs become.
#include "platform/include/win/winreg.h"

#include "platform/include/win/winerror.h"
#include "tests/support/OtherIdentity.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

// The stand-in works in a fresh system root for the life of a test.
class Registry : public ::testing::Test {
protected:
    fs::path Root() const { return FRoot.path(); }
    fs::path ServiceMenus() const { return Root() / "usr/local/share/kio/servicemenus"; }
    fs::path NemoActions() const { return Root() / "usr/local/share/nemo/actions"; }

    TemporarySystemRoot FRoot;
};

HKEY Create(HKEY parent, const std::u16string& path, DWORD* disposition = nullptr)
{
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExW(parent, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key,
                              disposition),
              ERROR_SUCCESS)
        << std::string(path.begin(), path.end());
    return key;
}

LSTATUS Open(HKEY parent, const std::u16string& path, HKEY& key, REGSAM access = KEY_READ)
{
    key = nullptr;
    return RegOpenKeyExW(parent, path.c_str(), 0, access, &key);
}

bool Exists(const std::u16string& path)
{
    HKEY key = nullptr;
    if (Open(HKEY_CLASSES_ROOT, path, key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

LSTATUS SetText(HKEY key, const char16_t* name, const std::u16string& text)
{
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>((text.size() + 1) * 2));
}

std::u16string QueryText(HKEY key, const char16_t* name)
{
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS || type != REG_SZ)
        return u"<none>";
    std::u16string text(size / 2, u'\0');
    EXPECT_EQ(RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &size), ERROR_SUCCESS);
    text.resize(text.find(u'\0'));
    return text;
}

std::vector<std::u16string> Subkeys(HKEY key)
{
    std::vector<std::u16string> names;
    WCHAR buffer[256];
    for (DWORD index = 0;; ++index) {
        DWORD length = 256;
        const LSTATUS status = RegEnumKeyExW(key, index, buffer, &length, nullptr, nullptr, nullptr, nullptr);
        if (status != ERROR_SUCCESS) {
            EXPECT_EQ(status, ERROR_NO_MORE_ITEMS);
            break;
        }
        names.emplace_back(buffer, length);
    }
    return names;
}

TEST_F(Registry, KeysAreFoundIgnoringCaseAndKeepTheCaseTheyWereMadeWith)
{
    DWORD disposition = 0;
    HKEY made = Create(HKEY_CLASSES_ROOT, u"Class\\Shell\\Verb", &disposition);
    EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
    RegCloseKey(made);
    made = Create(HKEY_CLASSES_ROOT, u"CLASS\\shell\\VERB", &disposition);
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
    RegCloseKey(made);

    HKEY key = nullptr;
    ASSERT_EQ(Open(HKEY_CLASSES_ROOT, u"class\\SHELL", key), ERROR_SUCCESS);
    EXPECT_EQ(Subkeys(key), std::vector<std::u16string>{u"Verb"});
    RegCloseKey(key);
    // Separators at either end or doubled name no further key.
    EXPECT_TRUE(Exists(u"\\Class\\\\Shell\\"));

    EXPECT_EQ(Open(HKEY_CLASSES_ROOT, u"Class\\Missing", key), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(key, nullptr);
    EXPECT_EQ(Open(HKEY_CURRENT_USER, u"Class", key), ERROR_FILE_NOT_FOUND);
}

TEST_F(Registry, NamesAFileNameCannotHoldStayInsideTheirKey)
{
    const std::vector<std::u16string> names = {u"*", u"..", u".", u"a/b", u"%41", u".hidden", u"tab\there",
                                               u"\u00e9t\u00e9 \u20ac"};
    HKEY parent = Create(HKEY_CLASSES_ROOT, u"Odd");
    for (const auto& name : names)
        RegCloseKey(Create(parent, name));
    // Nothing was made beside the registry's own folder.
    EXPECT_EQ(std::distance(fs::directory_iterator(Root()), fs::directory_iterator()), 1);
    std::vector<std::u16string> expected = names;
    std::sort(expected.begin(), expected.end(), [](const std::u16string& a, const std::u16string& b) {
        auto fold = [](std::u16string s) {
            for (auto& c : s)
                if (c >= u'a' && c <= u'z')
                    c = static_cast<char16_t>(c - 32);
            return s;
        };
        return fold(a) < fold(b);
    });
    EXPECT_EQ(Subkeys(parent), expected);
    for (const auto& name : names) {
        HKEY key = nullptr;
        EXPECT_EQ(Open(parent, name, key), ERROR_SUCCESS) << std::string(name.begin(), name.end());
        RegCloseKey(key);
    }
    RegCloseKey(parent);
}

TEST_F(Registry, ValuesAreReplacedByNameIgnoringCaseAndReadBackWhole)
{
    HKEY key = Create(HKEY_CLASSES_ROOT, u"Values");
    EXPECT_EQ(SetText(key, nullptr, u"default"), ERROR_SUCCESS);
    EXPECT_EQ(SetText(key, u"Icon", u"first"), ERROR_SUCCESS);
    EXPECT_EQ(SetText(key, u"ICON", u"second, longer"), ERROR_SUCCESS);
    EXPECT_EQ(SetText(key, u"", u"default again"), ERROR_SUCCESS);
    RegCloseKey(key);

    ASSERT_EQ(Open(HKEY_CLASSES_ROOT, u"values", key), ERROR_SUCCESS);
    EXPECT_EQ(QueryText(key, nullptr), u"default again");
    EXPECT_EQ(QueryText(key, u"icon"), u"second, longer");
    EXPECT_EQ(QueryText(key, u"Missing"), u"<none>");
    // A buffer too small: the size needed, nothing copied.
    BYTE small[4] = {1, 2, 3, 4};
    DWORD size = sizeof small;
    EXPECT_EQ(RegQueryValueExW(key, u"Icon", nullptr, nullptr, small, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, (std::u16string(u"second, longer").size() + 1) * 2);
    EXPECT_EQ(small[0], 1);
    // Opened for reading only: no value can be set through it.
    EXPECT_EQ(SetText(key, u"Icon", u"third"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(QueryText(key, u"Icon"), u"second, longer");
    RegCloseKey(key);
}

TEST_F(Registry, AKeyWithSubkeysIsNotDeletedAndHandlesAreChecked)
{
    RegCloseKey(Create(HKEY_CLASSES_ROOT, u"Tree\\Leaf"));
    EXPECT_EQ(RegDeleteKeyW(HKEY_CLASSES_ROOT, u"Tree"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKeyW(HKEY_CLASSES_ROOT, u""), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKeyW(HKEY_CLASSES_ROOT, u"Tree\\leaf"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyW(HKEY_CLASSES_ROOT, u"Tree"), ERROR_SUCCESS);
    EXPECT_FALSE(Exists(u"Tree"));
    EXPECT_EQ(RegDeleteKeyW(HKEY_CLASSES_ROOT, u"Tree"), ERROR_FILE_NOT_FOUND);

    HKEY key = Create(HKEY_CLASSES_ROOT, u"Closed");
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
    HKEY child = nullptr;
    EXPECT_EQ(Open(key, u"x", child), ERROR_INVALID_HANDLE);
    EXPECT_EQ(SetText(reinterpret_cast<HKEY>(&child), nullptr, u"x"), ERROR_INVALID_HANDLE);
}

TEST_F(Registry, AUserWhoCannotWriteTheRootReadsButChangesNothing)
{
    if (const std::string why = CannotRunAs(Identity::Nobody); !why.empty())
        GTEST_SKIP() << why;
    HKEY key = Create(HKEY_CLASSES_ROOT, u"Kept");
    ASSERT_EQ(SetText(key, nullptr, u"value"), ERROR_SUCCESS);
    RegCloseKey(key);
    FRoot.SetWritable(false);
    const IdentityRun run = RunAs(Identity::Nobody, [] {
        std::string result;
        HKEY k = nullptr;
        result += "open " + std::to_string(Open(HKEY_CLASSES_ROOT, u"kept", k));
        const std::u16string text = QueryText(k, nullptr);
        result += " read " + std::string(text.begin(), text.end());
        result += " set " + std::to_string(SetText(k, nullptr, u"other"));
        RegCloseKey(k);
        result += " create " +
                  std::to_string(RegCreateKeyExW(HKEY_CLASSES_ROOT, u"Kept\\New", 0, nullptr, 0, KEY_ALL_ACCESS,
                                                 nullptr, &k, nullptr));
        result += " delete " + std::to_string(RegDeleteKeyW(HKEY_CLASSES_ROOT, u"Kept"));
        return result;
    });
    FRoot.SetWritable(true);
    ASSERT_TRUE(run.Ran) << run.Output;
    // 5: ERROR_ACCESS_DENIED. Opening for writing succeeds as on Windows only where it may.
    EXPECT_EQ(run.Output, "open 0 read value set 5 create 5 delete 5");
    EXPECT_TRUE(Exists(u"Kept"));
    EXPECT_FALSE(Exists(u"Kept\\New"));
}

// The shell verbs of all files as context-menu entries.

void RegisterVerb(const std::u16string& verb, const std::u16string& program)
{
    HKEY key = Create(HKEY_CLASSES_ROOT, u"*\\shell\\" + verb);
    SetText(key, nullptr, verb + u"...");
    SetText(key, u"Icon", u"\"" + program + u"\",0");
    RegCloseKey(key);
    key = Create(HKEY_CLASSES_ROOT, u"*\\shell\\" + verb + u"\\command");
    SetText(key, nullptr, u"\"" + program + u"\" \"%1\"");
    RegCloseKey(key);
}

TEST_F(Registry, AVerbForAllFilesBecomesAServiceMenuAndANemoAction)
{
    RegisterVerb(u"Tessera", u"/opt/tessera/bin/tessera");
    EXPECT_EQ(ReadText(ServiceMenus() / "tessera-verb-Tessera.desktop"),
              "[Desktop Entry]\n"
              "Type=Service\n"
              "Name=Tessera...\n"
              "MimeType=all/allfiles;\n"
              "Actions=open;\n"
              "X-KDE-ServiceTypes=KonqPopupMenu/Plugin\n"
              "X-KDE-Priority=TopLevel\n"
              "\n"
              "[Desktop Action open]\n"
              "Name=Tessera...\n"
              "Icon=tessera\n"
              "Exec=\"/opt/tessera/bin/tessera\" %f\n");
    EXPECT_EQ(ReadText(NemoActions() / "tessera-verb-Tessera.nemo_action"),
              "[Nemo Action]\n"
              "Active=true\n"
              "Name=Tessera...\n"
              "Comment=Tessera...\n"
              "Icon-Name=tessera\n"
              "Exec=\"/opt/tessera/bin/tessera\" %F\n"
              "Selection=s\n"
              // Files only, never a folder.
              "Extensions=nodirs;\n");
}

TEST_F(Registry, OnlyVerbsOfAllFilesWithACommandHaveEntriesAndTheyGoWithTheirKeys)
{
    // Another class's verb, and a verb without command: neither is a menu entry for all files.
    RegCloseKey(Create(HKEY_CLASSES_ROOT, u"txtfile\\shell\\Other\\command"));
    RegCloseKey(Create(HKEY_CLASSES_ROOT, u"*\\shell\\NoCommand"));
    fs::create_directories(ServiceMenus());
    WriteText(ServiceMenus() / "someone-elses.desktop", "kept");
    RegisterVerb(u"Tessera", u"/usr/bin/tessera");
    auto names = [](const fs::path& folder) {
        std::vector<std::string> found;
        for (const auto& entry : fs::directory_iterator(folder))
            found.push_back(entry.path().filename().string());
        std::sort(found.begin(), found.end());
        return found;
    };
    EXPECT_EQ(names(ServiceMenus()), (std::vector<std::string>{"someone-elses.desktop", "tessera-verb-Tessera.desktop"}));
    EXPECT_EQ(names(NemoActions()), std::vector<std::string>{"tessera-verb-Tessera.nemo_action"});

    EXPECT_EQ(RegDeleteKeyW(HKEY_CLASSES_ROOT, u"*\\shell\\Tessera\\command"), ERROR_SUCCESS);
    EXPECT_EQ(names(ServiceMenus()), std::vector<std::string>{"someone-elses.desktop"});
    EXPECT_TRUE(names(NemoActions()).empty());
}

// The general escapes of a desktop entry's value undone, as a file manager reads it.
std::string Unescaped(const std::string& value)
{
    std::string out;
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\\' && i + 1 < value.size()) {
            const char c = value[++i];
            out += c == 's' ? ' ' : c == 'n' ? '\n' : c == 't' ? '\t' : c == 'r' ? '\r' : c;
        } else {
            out += value[i];
        }
    }
    return out;
}

std::string ExecOf(const std::string& entry)
{
    const size_t at = entry.find("\nExec=");
    return Unescaped(entry.substr(at + 6, entry.find('\n', at + 1) - at - 6));
}

TEST_F(Registry, TheEntriesRunTheProgramOnTheClickedFileWhateverTheNames)
{
    // A program and a file whose names hold what the Exec quoting must carry through. (A double
    // quote cannot be in the program's path: the command value, as on Windows, has no escape for it.)
    const fs::path folder = Root() / "odd name $HOME `x` 100% \\ 'q'";
    fs::create_directories(folder);
    fs::create_symlink(TESSERA_REPORT, folder / "tessera-report");
    const fs::path clicked = folder / "clicked \"file\" $PATH.pem";
    fs::copy_file(Fixture("certs/root.pem"), clicked);
    const RunResult direct = RunProgram(TESSERA_REPORT, {clicked.string()});
    ASSERT_EQ(direct.ExitCode, 0) << direct.Err;
    ASSERT_NE(direct.Out.find("Tessera Test Root CA"), std::string::npos) << direct.Out;
    const std::string program = (folder / "tessera-report").string();
    RegisterVerb(u"Tessera", std::u16string(program.begin(), program.end()));

    for (const auto& [entry, code] : {std::pair{ServiceMenus() / "tessera-verb-Tessera.desktop", "%f"},
                                      std::pair{NemoActions() / "tessera-verb-Tessera.nemo_action", "%F"}}) {
        std::string exec = ExecOf(ReadText(entry));
        // The Exec quoting is that of the shell's double quotes; the field code is the file.
        const size_t field = exec.find(code);
        ASSERT_NE(field, std::string::npos) << exec;
        exec.replace(field, 2, "\"$1\"");
        for (size_t at = exec.find("%%"); at != std::string::npos; at = exec.find("%%", at + 1))
            exec.erase(at, 1);
        const RunResult run = RunProgram("/bin/sh", {"-c", "exec " + exec, "sh", clicked.string()});
        EXPECT_EQ(run.ExitCode, 0) << exec << "\n" << run.Err;
        EXPECT_EQ(run.Out, direct.Out) << entry;
    }
}

TEST_F(Registry, TheServiceMenuIsAValidDesktopEntryBeyondWhatItsKindNeeds)
{
    RegisterVerb(u"Tessera", u"/usr/bin/tessera");
    const fs::path entry = ServiceMenus() / "tessera-verb-Tessera.desktop";
    const RunResult run = RunProgram("/usr/bin/desktop-file-validate", {entry.string()});
    // A KDE service menu is a Service with the MIME type of all files and actions: the validator
    // knows neither the pseudo-type nor those keys outside applications. Nothing else may fail.
    std::string rest;
    std::istringstream lines(run.Out + run.Err);
    for (std::string line; std::getline(lines, line);) {
        if (line.find("\"all/allfiles\" which is an invalid MIME type") != std::string::npos ||
            line.find("but the type is \"Service\" while this key is only valid for type \"Application\"") !=
                std::string::npos)
            continue;
        rest += line + "\n";
    }
    EXPECT_EQ(rest, "");
}

} // namespace

// What another user can put in root's way: a link planted where the entry is written aside, a
// folder others may write into, a registry in other hands. Nothing is written through a link,
// into a folder others can change, or from a registry others can change; what is written has the
// modes a file manager of any user can read, whatever the umask.

TEST_F(Registry, AFolderOthersCanWriteIntoIsRefusedAndNothingIsWrittenThroughALink)
{
    // The target stands for a file root must never overwrite (/etc/shadow).
    const fs::path target = Root() / "shadow";
    WriteText(target, "root:secret\n");
    fs::create_directories(NemoActions());
    fs::permissions(NemoActions(), fs::perms(0777));
    fs::create_symlink(target, NemoActions() / "tessera-verb-Tessera.nemo_action.new");
    fs::create_symlink(target, NemoActions() / ".tessera-verb-Tessera.nemo_action.new");
    RegisterVerb(u"Tessera", u"/usr/bin/tessera");
    EXPECT_EQ(ReadText(target), "root:secret\n");
    EXPECT_FALSE(fs::exists(NemoActions() / "tessera-verb-Tessera.nemo_action"));
    // The other file manager's folder is in order: its entry is there.
    EXPECT_TRUE(fs::exists(ServiceMenus() / "tessera-verb-Tessera.desktop"));
}

TEST_F(Registry, ALinkLeftWhereTheEntryIsWrittenAsideIsReplacedNotFollowed)
{
    const fs::path target = Root() / "shadow";
    WriteText(target, "root:secret\n");
    fs::create_directories(NemoActions());
    fs::create_symlink(target, NemoActions() / ".tessera-verb-Tessera.nemo_action.new");
    RegisterVerb(u"Tessera", u"/usr/bin/tessera");
    EXPECT_EQ(ReadText(target), "root:secret\n");
    EXPECT_NE(ReadText(NemoActions() / "tessera-verb-Tessera.nemo_action").find("Exec="), std::string::npos);
    EXPECT_FALSE(fs::is_symlink(NemoActions() / "tessera-verb-Tessera.nemo_action"));
}

TEST_F(Registry, AFolderOfTheEntriesThatIsALinkIsRefused)
{
    const fs::path elsewhere = Root() / "elsewhere";
    fs::create_directories(elsewhere);
    fs::create_directories(NemoActions().parent_path());
    fs::create_directory_symlink(elsewhere, NemoActions());
    RegisterVerb(u"Tessera", u"/usr/bin/tessera");
    EXPECT_TRUE(fs::is_empty(elsewhere));
}

TEST_F(Registry, ARegistryOthersCanChangeIsNotTrusted)
{
    // A verb planted in a registry folder that others may write into is never published.
    RegisterVerb(u"Tessera", u"/usr/bin/tessera");
    const fs::path registry = Root() / "var/lib/tessera/registry";
    fs::permissions(registry, fs::perms(0777));
    HKEY key = nullptr;
    EXPECT_EQ(Open(HKEY_CLASSES_ROOT, u"*\\shell\\Tessera", key), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, u"*\\shell\\Planted", 0, nullptr, REG_OPTION_NON_VOLATILE,
                              KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_ACCESS_DENIED);
    fs::permissions(registry, fs::perms(0755));
    // The same with a values file others may write: its content is not taken.
    const fs::path values = Root() / "var/lib/tessera/registry/HKEY_CLASSES_ROOT/keys/*/keys/shell/keys/Tessera/keys/command/values";
    ASSERT_TRUE(fs::exists(values));
    fs::permissions(values, fs::perms(0666));
    ASSERT_EQ(Open(HKEY_CLASSES_ROOT, u"*\\shell\\Tessera\\command", key), ERROR_SUCCESS);
    EXPECT_EQ(RegQueryValueExW(key, nullptr, nullptr, nullptr, nullptr, nullptr), ERROR_ACCESS_DENIED);
    RegCloseKey(key);
}

TEST_F(Registry, ARegistryOwnedByAnotherUserIsNotTrustedByRoot)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "only root can give the registry to another user";
    RegisterVerb(u"Tessera", u"/usr/bin/tessera");
    const fs::path shell = Root() / "var/lib/tessera/registry/HKEY_CLASSES_ROOT/keys/*/keys/shell";
    // The verb "Planted", made by a user who owns the folder of the shell verbs.
    const uid_t nobody = 65534;
    for (const auto& entry : fs::recursive_directory_iterator(shell))
        ASSERT_EQ(lchown(entry.path().c_str(), nobody, nobody), 0);
    ASSERT_EQ(lchown(shell.c_str(), nobody, nobody), 0);
    HKEY key = nullptr;
    EXPECT_EQ(Open(HKEY_CLASSES_ROOT, u"*\\shell\\Tessera", key), ERROR_ACCESS_DENIED);
    RegCloseKey(Create(HKEY_CLASSES_ROOT, u"txtfile\\shell\\Other")); // any change publishes the entries anew
    EXPECT_FALSE(fs::exists(NemoActions() / "tessera-verb-Tessera.nemo_action"));
}

TEST_F(Registry, EntriesAndTheirFoldersCanBeReadByEveryUserWhateverTheUmask)
{
    const mode_t saved = umask(077);
    RegisterVerb(u"Tessera", u"/usr/bin/tessera");
    umask(saved);
    const auto mode = [](const fs::path& path) { return fs::status(path).permissions() & fs::perms::all; };
    for (const fs::path& folder : {ServiceMenus(), NemoActions(), ServiceMenus().parent_path(), NemoActions().parent_path(),
                                   Root() / "var/lib/tessera/registry"})
        EXPECT_EQ(mode(folder), fs::perms(0755)) << folder;
    for (const fs::path& file : {ServiceMenus() / "tessera-verb-Tessera.desktop", NemoActions() / "tessera-verb-Tessera.nemo_action"})
        EXPECT_EQ(mode(file), fs::perms(0644)) << file;
}
