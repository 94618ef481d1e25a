// RootStore: adds a certificate to the local machine's trusted root store ("Root" of
// CERT_SYSTEM_STORE_LOCAL_MACHINE), or removes it, and prints its subject.
//
//   RootStore add FILE       FILE holds one certificate, PEM or DER
//   RootStore remove FILE
//
// Exit codes: 0 done, 1 the file or the store failed, 2 usage. Removing a certificate
// the store does not hold is done (the store holds it no longer either way).
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

constexpr int Done = 0;
constexpr int Failed = 1;
constexpr int Usage = 2;
// A subject longer than this is cut; the tools print it for people to read.
constexpr DWORD SubjectSize = 512;

bool ReadFileBytes(const char* path, std::vector<BYTE>& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !bytes.empty();
}

// The DER bytes of the certificate in a PEM or DER file.
bool ReadCertificate(const char* path, std::vector<BYTE>& der) {
    std::vector<BYTE> raw;
    if (!ReadFileBytes(path, raw))
        return false;
    const char* text = reinterpret_cast<const char*>(raw.data());
    const DWORD length = static_cast<DWORD>(raw.size());
    DWORD size = 0;
    if (!CryptStringToBinaryA(text, length, CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr,
                              nullptr)) {
        der = raw;
        return true;
    }
    der.resize(size);
    return CryptStringToBinaryA(text, length, CRYPT_STRING_BASE64HEADER, der.data(), &size, nullptr,
                                nullptr) != FALSE;
}

std::string Subject(PCCERT_CONTEXT certificate) {
    char subject[SubjectSize] = {};
    CertNameToStrA(X509_ASN_ENCODING, &certificate->pCertInfo->Subject, CERT_X500_NAME_STR, subject,
                   sizeof subject);
    return subject;
}

int Run(bool add, const char* path) {
    std::vector<BYTE> der;
    if (!ReadCertificate(path, der)) {
        std::fprintf(stderr, "RootStore: cannot read a certificate from %s\n", path);
        return Failed;
    }
    PCCERT_CONTEXT certificate =
        CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()));
    if (certificate == nullptr) {
        std::fprintf(stderr, "RootStore: %s is not a certificate (error %lu)\n", path,
                     GetLastError());
        return Failed;
    }
    const std::string subject = Subject(certificate);
    HCERTSTORE store =
        CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, "Root");
    int result = Failed;
    if (store == nullptr) {
        std::fprintf(stderr, "RootStore: cannot open the root store (error %lu)\n", GetLastError());
    } else if (add) {
        if (CertAddCertificateContextToStore(store, certificate, CERT_STORE_ADD_REPLACE_EXISTING,
                                             nullptr))
            result = Done;
        else
            std::fprintf(stderr, "RootStore: adding failed (error %lu)\n", GetLastError());
    } else {
        result = Done;
        PCCERT_CONTEXT held = CertFindCertificateInStore(store, X509_ASN_ENCODING, 0,
                                                         CERT_FIND_EXISTING, certificate, nullptr);
        // CertDeleteCertificateFromStore frees the context it is given, whatever it returns.
        if (held != nullptr && !CertDeleteCertificateFromStore(held)) {
            std::fprintf(stderr, "RootStore: removing failed (error %lu)\n", GetLastError());
            result = Failed;
        }
    }
    // Written out now: Wine keeps a deletion pending until the store is released, which
    // CertCloseStore of the system store does not do (measured: the certificate stayed).
    if (result == Done && !CertControlStore(store, 0, CERT_STORE_CTRL_COMMIT, nullptr)) {
        std::fprintf(stderr, "RootStore: saving the store failed (error %lu)\n", GetLastError());
        result = Failed;
    }
    if (store != nullptr)
        CertCloseStore(store, 0);
    CertFreeCertificateContext(certificate);
    if (result == Done)
        std::printf("%s %s\n", add ? "added" : "removed", subject.c_str());
    return result;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "add") == 0)
        return Run(true, argv[2]);
    if (argc == 3 && std::strcmp(argv[1], "remove") == 0)
        return Run(false, argv[2]);
    std::fprintf(stderr, "usage: RootStore add|remove CERTIFICATE-FILE (PEM or DER)\n");
    return Usage;
}
