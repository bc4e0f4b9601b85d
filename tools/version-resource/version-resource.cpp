// Writes the program's own version resource as a C++ source: a VS_VERSIONINFO block (the layout
// of a PE's RT_VERSION resource) kept in the ELF section the version stand-in reads it from.
//   version-resource OUT.cpp --file-version A.B.C.D --product-version A.B.C.D [--debug] KEY=VALUE...
// The KEY=VALUE pairs become the strings of table 040904B0 (US English, Unicode), in that order.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t FixedSignature = 0xFEEF04BD;
constexpr uint32_t FixedStructVersion = 0x00010000;
constexpr uint32_t FlagsMask = 0x3F;
constexpr uint32_t DebugFlag = 0x1;
constexpr uint32_t OsNtWindows32 = 0x00040004;
constexpr uint32_t TypeApplication = 1;

void Put16(Bytes& out, uint16_t v)
{
    out.push_back(static_cast<uint8_t>(v & 0xFF));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void Put32(Bytes& out, uint32_t v)
{
    Put16(out, static_cast<uint16_t>(v & 0xFFFF));
    Put16(out, static_cast<uint16_t>(v >> 16));
}

void Align(Bytes& out)
{
    while (out.size() % 4)
        out.push_back(0);
}

// UTF-8 to UTF-16LE with the terminating NUL; false for text that is not UTF-8.
bool Wide(std::string_view text, Bytes& out)
{
    for (size_t i = 0; i < text.size();) {
        const auto lead = static_cast<uint8_t>(text[i]);
        const size_t length = lead < 0x80 ? 1 : (lead >> 5) == 6 ? 2 : (lead >> 4) == 14 ? 3 : (lead >> 3) == 30 ? 4 : 0;
        if (length == 0 || i + length > text.size())
            return false;
        uint32_t c = length == 1 ? lead : lead & (0x7F >> length);
        for (size_t k = 1; k < length; ++k)
            c = (c << 6) | (static_cast<uint8_t>(text[i + k]) & 0x3F);
        if (c >= 0x10000) {
            c -= 0x10000;
            Put16(out, static_cast<uint16_t>(0xD800 + (c >> 10)));
            Put16(out, static_cast<uint16_t>(0xDC00 + (c & 0x3FF)));
        } else {
            Put16(out, static_cast<uint16_t>(c));
        }
        i += length;
    }
    Put16(out, 0);
    return true;
}

// One node: wLength, wValueLength (characters for text, bytes for binary), wType, the key,
// padding, the value, padding, the children.
Bytes Node(std::string_view key, const Bytes& value, bool text, const std::vector<Bytes>& children = {})
{
    Bytes out(6, 0);
    Wide(key, out);
    Align(out);
    out.insert(out.end(), value.begin(), value.end());
    for (const Bytes& child : children) {
        Align(out);
        out.insert(out.end(), child.begin(), child.end());
    }
    const size_t valueLength = text ? value.size() / 2 : value.size();
    out[0] = static_cast<uint8_t>(out.size() & 0xFF);
    out[1] = static_cast<uint8_t>(out.size() >> 8);
    out[2] = static_cast<uint8_t>(valueLength & 0xFF);
    out[3] = static_cast<uint8_t>(valueLength >> 8);
    out[4] = text ? 1 : 0;
    return out;
}

bool ParseVersion(std::string_view text, uint32_t& ms, uint32_t& ls)
{
    uint32_t parts[4] = {};
    size_t part = 0;
    for (const char c : text) {
        if (c == '.') {
            if (++part == 4)
                return false;
        } else if (c >= '0' && c <= '9') {
            parts[part] = parts[part] * 10 + static_cast<uint32_t>(c - '0');
            if (parts[part] > 0xFFFF)
                return false;
        } else {
            return false;
        }
    }
    ms = (parts[0] << 16) | parts[1];
    ls = (parts[2] << 16) | parts[3];
    return true;
}

int Usage()
{
    std::fputs("usage: version-resource OUT.cpp --file-version A.B.C.D --product-version A.B.C.D [--debug] "
               "KEY=VALUE...\n",
               stderr);
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
        return Usage();
    const std::string output = argv[1];
    uint32_t fileMs = 0, fileLs = 0, productMs = 0, productLs = 0;
    uint32_t flags = 0;
    std::vector<std::pair<std::string, std::string>> strings;
    for (int i = 2; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--file-version" && i + 1 < argc) {
            if (!ParseVersion(argv[++i], fileMs, fileLs))
                return Usage();
        } else if (arg == "--product-version" && i + 1 < argc) {
            if (!ParseVersion(argv[++i], productMs, productLs))
                return Usage();
        } else if (arg == "--debug") {
            flags |= DebugFlag;
        } else if (const size_t equals = arg.find('='); equals != std::string_view::npos && equals > 0) {
            strings.emplace_back(std::string(arg.substr(0, equals)), std::string(arg.substr(equals + 1)));
        } else {
            return Usage();
        }
    }

    Bytes fixed;
    for (const uint32_t v : {FixedSignature, FixedStructVersion, fileMs, fileLs, productMs, productLs, FlagsMask, flags,
                             OsNtWindows32, TypeApplication, 0u, 0u, 0u})
        Put32(fixed, v);
    std::vector<Bytes> table;
    for (const auto& [key, value] : strings) {
        Bytes text;
        if (!Wide(value, text)) {
            std::fprintf(stderr, "version-resource: %s is not UTF-8\n", key.c_str());
            return 1;
        }
        table.push_back(Node(key, text, true));
    }
    Bytes translation;
    Put16(translation, 0x0409);
    Put16(translation, 0x04B0);
    const Bytes block =
        Node("VS_VERSION_INFO", fixed, false,
             {Node("StringFileInfo", {}, true, {Node("040904B0", {}, true, table)}),
              Node("VarFileInfo", {}, true, {Node("Translation", translation, false)})});
    if (block.size() > 0xFFFF) {
        std::fputs("version-resource: the block is larger than 64 KiB\n", stderr);
        return 1;
    }

    std::ofstream out(output, std::ios::trunc);
    out << "// Generated by tools/version-resource: the program's own version resource, in the section the\n"
           "// version stand-in reads it from. Edit the build's settings, not this file.\n"
           "__attribute__((used, section(\".tessera.version\"), aligned(4))) static const unsigned char\n"
           "    TesseraVersionResource["
        << block.size() << "] = {";
    for (size_t i = 0; i < block.size(); ++i)
        out << (i % 16 == 0 ? "\n    " : " ") << static_cast<unsigned>(block[i]) << ',';
    out << "\n};\n";
    return out ? 0 : 1;
}
