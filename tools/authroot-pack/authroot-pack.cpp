// Packs Windows' root program for the build: authroot-pack LIST.stl ROOTS.pem OUT writes the list
// and the certificates of ROOTS.pem in the form platform/common/RootPack.h describes.
#include "platform/common/RootPack.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

struct Root {
    uint32_t SubjectHash = 0;
    Bytes Der;
    std::array<uint8_t, 20> Sha1{};
};

void PutU32(Bytes& out, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

bool ReadFile(const char* path, Bytes& out)
{
    std::ifstream in(path, std::ios::binary);
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return in.good() || in.eof();
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: authroot-pack LIST.stl ROOTS.pem OUT\n");
        return 2;
    }
    Bytes list;
    if (!ReadFile(argv[1], list) || list.empty()) {
        std::fprintf(stderr, "authroot-pack: cannot read %s\n", argv[1]);
        return 1;
    }
    std::vector<Root> roots;
    FILE* pem = std::fopen(argv[2], "r");
    if (!pem) {
        std::fprintf(stderr, "authroot-pack: cannot read %s\n", argv[2]);
        return 1;
    }
    while (X509* cert = PEM_read_X509(pem, nullptr, nullptr, nullptr)) {
        Root root;
        int ok = 0;
        root.SubjectHash = static_cast<uint32_t>(X509_NAME_hash_ex(X509_get_subject_name(cert), nullptr, nullptr, &ok));
        const int size = i2d_X509(cert, nullptr);
        unsigned int length = 0;
        if (ok != 1 || size <= 0 || X509_digest(cert, EVP_sha1(), root.Sha1.data(), &length) != 1 || length != 20) {
            std::fprintf(stderr, "authroot-pack: a certificate of %s cannot be packed\n", argv[2]);
            return 1;
        }
        root.Der.resize(static_cast<size_t>(size));
        unsigned char* p = root.Der.data();
        i2d_X509(cert, &p);
        X509_free(cert);
        roots.push_back(std::move(root));
    }
    std::fclose(pem);
    ERR_clear_error(); // the end of the file reads as "no start line"
    std::stable_sort(roots.begin(), roots.end(), [](const Root& a, const Root& b) { return a.SubjectHash < b.SubjectHash; });

    Bytes out(rootpack::Magic, rootpack::Magic + 4);
    PutU32(out, rootpack::Version);
    PutU32(out, static_cast<uint32_t>(list.size()));
    out.insert(out.end(), list.begin(), list.end());
    PutU32(out, static_cast<uint32_t>(roots.size()));
    const size_t indexStart = out.size();
    size_t offset = indexStart + roots.size() * rootpack::IndexEntrySize;
    for (const Root& root : roots) {
        PutU32(out, root.SubjectHash);
        PutU32(out, static_cast<uint32_t>(offset));
        PutU32(out, static_cast<uint32_t>(root.Der.size()));
        out.insert(out.end(), root.Sha1.begin(), root.Sha1.end());
        offset += root.Der.size();
    }
    for (const Root& root : roots)
        out.insert(out.end(), root.Der.begin(), root.Der.end());

    std::ofstream file(argv[3], std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(out.data()), static_cast<std::streamsize>(out.size()));
    if (!file) {
        std::fprintf(stderr, "authroot-pack: cannot write %s\n", argv[3]);
        return 1;
    }
    return 0;
}
