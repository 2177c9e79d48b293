#include "icalendar/digest.h"

#include <openssl/evp.h>

#include <new>

namespace cvical {

Sha256::Sha256() : context_(EVP_MD_CTX_new()) {
    if (context_ == nullptr) throw std::bad_alloc();
    EVP_DigestInit_ex(static_cast<EVP_MD_CTX*>(context_), EVP_sha256(), nullptr);
}

Sha256::~Sha256() {
    EVP_MD_CTX_free(static_cast<EVP_MD_CTX*>(context_));
}

Sha256& Sha256::Add(std::string_view bytes) {
    EVP_DigestUpdate(static_cast<EVP_MD_CTX*>(context_), bytes.data(), bytes.size());
    return *this;
}

Digest Sha256::Finish() {
    Digest digest{};
    unsigned int size = 0;
    EVP_DigestFinal_ex(static_cast<EVP_MD_CTX*>(context_), digest.data(), &size);
    return digest;
}

Digest Sha256Of(std::string_view bytes) {
    return Sha256().Add(bytes).Finish();
}

std::string HexText(const Digest& digest) {
    static const char kHex[] = "0123456789abcdef";
    std::string text;
    text.reserve(digest.size() * 2);
    for (uint8_t byte : digest) {
        text += kHex[byte >> 4];
        text += kHex[byte & 15];
    }
    return text;
}

bool ParseHex(const std::string& text, Digest* digest) {
    if (text.size() != digest->size() * 2) return false;
    auto value = [](char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        return -1;
    };
    for (size_t i = 0; i < digest->size(); ++i) {
        int high = value(text[2 * i]), low = value(text[2 * i + 1]);
        if (high < 0 || low < 0) return false;
        (*digest)[i] = static_cast<uint8_t>(high << 4 | low);
    }
    return true;
}

}  // namespace cvical
