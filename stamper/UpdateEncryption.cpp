#include "UpdateEncryption.h"

#include <qpdf/QPDFCryptoProvider.hh>
#include <qpdf/QUtil.hh>

#include <cstring>
#include <stdexcept>

UpdateEncryption::UpdateEncryption(QPDF& pdf) {
    int P = 0;
    QPDF::encryption_method_e fileMethod = QPDF::e_none;
    active_ = pdf.isEncrypted(R_, P, V_, streams_, strings_, fileMethod);
    if (!active_)
        return;
    key_ = pdf.getEncryptionKey();
    // Before crypt filters (V 1 to 3) everything is RC4; qpdf reports no method for such files.
    if (V_ < 4)
        streams_ = strings_ = QPDF::e_rc4;
    for (QPDF::encryption_method_e m : {streams_, strings_})
        if (m != QPDF::e_none && m != QPDF::e_rc4 && m != QPDF::e_aes && m != QPDF::e_aesv3)
            unsupported_ = "an encryption method this tool does not know";
    if (key_.empty())
        unsupported_ = "no file key";
    // The key lengths each method works with; anything else is a file qpdf read leniently.
    if ((streams_ == QPDF::e_aesv3 || strings_ == QPDF::e_aesv3) && key_.size() != 32)
        unsupported_ = "an AES-256 key of the wrong length";
}

std::string UpdateEncryption::encryptString(const std::string& plain, QPDFObjGen og) const {
    return encrypt(plain, og, strings_);
}

std::string UpdateEncryption::encryptStream(const std::string& plain, QPDFObjGen og) const {
    return encrypt(plain, og, streams_);
}

std::string UpdateEncryption::encrypt(const std::string& plain, QPDFObjGen og,
                                      QPDF::encryption_method_e method) const {
    if (!active_ || method == QPDF::e_none)
        return plain;
    if (!unsupported_.empty())
        throw std::logic_error("encrypting with " + unsupported_);
    const bool aes = method == QPDF::e_aes || method == QPDF::e_aesv3;
    const std::string key = QPDF::compute_data_key(key_, og.getObj(), og.getGen(), aes, V_, R_);
    auto crypto = QPDFCryptoProvider::getImpl();
    if (!aes) {
        std::string out = plain;
        crypto->RC4_init(reinterpret_cast<const unsigned char*>(key.data()), int(key.size()));
        crypto->RC4_process(reinterpret_cast<const unsigned char*>(plain.data()), plain.size(),
                            reinterpret_cast<unsigned char*>(out.data()));
        crypto->RC4_finalize();
        return out;
    }
    // AES in CBC mode: a first block drawn from the key, the object and its text (so the same file
    // numbered the same way gives the same bytes, and no two different texts share one), then the
    // text padded to whole blocks, always adding at least one byte of padding.
    constexpr size_t block = 16;
    unsigned char chain[block];
    crypto->MD5_init();
    crypto->MD5_update(reinterpret_cast<const unsigned char*>(key.data()), key.size());
    const std::string object = og.unparse(' ');
    crypto->MD5_update(reinterpret_cast<const unsigned char*>(object.data()), object.size() + 1);
    crypto->MD5_update(reinterpret_cast<const unsigned char*>(plain.data()), plain.size());
    crypto->MD5_finalize();
    crypto->MD5_digest(chain);
    std::string out(reinterpret_cast<const char*>(chain), block);
    const size_t pad = block - plain.size() % block;
    std::string padded = plain + std::string(pad, char(pad));
    out.resize(block + padded.size());
    crypto->rijndael_init(true, reinterpret_cast<const unsigned char*>(key.data()), key.size(), true, chain);
    for (size_t at = 0; at < padded.size(); at += block)
        crypto->rijndael_process(reinterpret_cast<unsigned char*>(padded.data() + at),
                                 reinterpret_cast<unsigned char*>(out.data() + block + at));
    crypto->rijndael_finalize();
    return out;
}
